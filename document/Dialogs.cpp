#include "app/EditorApp.h"
#include "document/FileAccess.h"
#include "document/KeptCopies.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

void EditorApp::ChooseAndOpen() {
    platform::FileDialogRequest request;
    request.title = "Open File";
    request.filters = {
        {"Web (.html;.htm;.asp;.shtml;.css;.xml)", "*.html;*.htm;*.asp;*.shtml;*.css;*.xml"},
        {"All Files (*.*)", "*.*"},
    };
    std::string path;
    if (platform::CurrentDesktop().GetOpenFileName(frameWindow, request, path))
        LoadFile(path);
}

// An untitled document has no path to save to, so it asks for one.
bool EditorApp::Save() {
    if (filePath.empty())
        return SaveAs();
    LinkRule links;
    if (!OverwriteConfirmed(links))
        return false;
    return WriteDocument(filePath, links);
}

// Another program may have replaced or rewritten the file since Varne read or
// last saved it; their version is not written over without asking. A file
// that is gone holds nothing to lose, and a name that now holds no file at all
// (a folder, a pipe) is refused by the save itself, with the reason. A
// document with a path but no file read (one named on the command line before
// it existed) expects no file there: one that has appeared since is someone
// else's.
//
// Nor does a Yes ever write through a symbolic link that was not there: when
// the name has become a link that leads elsewhere, the question says where,
// and Yes puts a new file in the link's place. Whatever the links lead to when
// the question is answered is where the save must find them.
bool EditorApp::OverwriteConfirmed(LinkRule& links) {
    const std::string leadsTo = ResolveLinks(filePath);
    std::string linkText;
    if (!diskTarget.empty() && leadsTo != diskTarget && ReadLink(filePath, linkText)) {
        const std::string where = leadsTo.empty() ? linkText : leadsTo;
        links.replaceName = platform::CurrentDesktop().MessageBox(
                                frameWindow,
                                "\"" + filePath + "\" is now a symbolic link to \"" + where +
                                    "\", not the file that was opened.\n\nSave the document as a "
                                    "new file in place of the link? What the link points to stays "
                                    "as it is.",
                                "Varne", platform::MB_YESNO) == platform::IDYES;
        return links.replaceName;
    }
    links.mustLeadTo = leadsTo;
    FileIdentity now;
    if (!IdentifyFile(filePath, now) || (diskIdentity && now == *diskIdentity) ||
        !IsExistingFile(filePath))
        return true;
    return platform::CurrentDesktop().MessageBox(
               frameWindow,
               "\"" + filePath + "\" has changed on disk since it was opened. Overwrite it?",
               "Varne", platform::MB_YESNO) == platform::IDYES;
}

// A name chosen by mistake must not destroy the file that has it: replacing a
// file is asked first, and No shows the dialog again at that name. The document
// takes the new name only once the text is safely under it: after a failed
// save its caption and later Saves still point at the old name.
bool EditorApp::SaveAs() {
    platform::FileDialogRequest request;
    request.title = "Save File";
    request.initialPath = filePath;
    std::string path;
    for (;;) {
        if (!platform::CurrentDesktop().GetSaveFileName(frameWindow, request, path))
            return false;
        if (!IsExistingFile(path) || ConfirmReplace(path))
            break;
        request.initialPath = path;
    }
    LinkRule links;
    links.mustLeadTo = ResolveLinks(path);
    return WriteDocument(path, links);
}

// What Varne kept of a file when it last had it open is offered back when the
// file is opened again; opening the file as asked stays the default, for
// Return and Escape alike.
std::string EditorApp::OfferKeptCopy(const std::string& path) {
    const std::optional<KeptCopy> kept = FindKeptCopy(path);
    if (!kept)
        return path;
    const std::string copy = "\"" + kept->path + "\"";
    const std::string file = "\"" + path + "\"";
    const std::string text =
        kept->kind == KeptCopy::Kind::unsaved
            ? copy + " holds unsaved text of " + file +
                  " that Varne kept when it was ended, and it is newer than the file."
            : "A save of " + file + " did not finish: the file may be incomplete, and " + copy +
                  " holds what it held before that save.";
    const int choice =
        platform::CurrentDesktop().Ask(frameWindow, text + "\n\nOpen the kept copy instead?",
                                       "Varne", {"Open the &File", "Open the Kept &Copy"}, 0, 0);
    return choice == 1 ? kept->path : path;
}

// Yes answers Cancel when the save does not happen, so the text is never
// dropped on the strength of a save that failed or was called off. Once the
// editor has gone (the window closed) its text was given up already.
int EditorApp::ConfirmDiscard() {
    if (!modified || !editorWindow)
        return platform::IDYES;
    const int answer = platform::CurrentDesktop().MessageBox(
        frameWindow, "Save changes to \"" + filePath + "\"?", "Varne", platform::MB_YESNOCANCEL);
    if (answer == platform::IDYES && !Save())
        return platform::IDCANCEL;
    return answer;
}

bool EditorApp::QuitConfirmed() {
    const int answer = ConfirmDiscard();
    if (answer == platform::IDNO)
        DropJournal();
    return answer != platform::IDCANCEL;
}

bool EditorApp::ConfirmReplace(const std::string& path) {
    return platform::CurrentDesktop().MessageBox(
               frameWindow,
               "The file \"" + path + "\" already exists.\n\nDo you want to replace it?", "Varne",
               platform::MB_YESNO) == platform::IDYES;
}
