#include "app/EditorApp.h"
#include "document/FileAccess.h"
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
//
// A save that failed while writing in place has put the old content back:
// the same file, of the same size, with a new modification time. That is
// still the file as it was read, not another program's version, and the next
// Save must not say otherwise. A file replaced meanwhile is another one.
bool EditorApp::Save() {
    if (filePath.empty())
        return SaveAs();
    if (!OverwriteConfirmed())
        return false;
    if (SaveToFile())
        return true;
    FileIdentity now;
    if (diskIdentity && IdentifyFile(filePath, now) && now.device == diskIdentity->device &&
        now.inode == diskIdentity->inode && now.size == diskIdentity->size)
        diskIdentity = now;
    return false;
}

// Another program may have replaced or rewritten the file since Varne read or
// last saved it; their version is not written over without asking. A file
// that is gone holds nothing to lose. A document with a path but no file read
// (one named on the command line before it existed) expects no file there:
// one that has appeared since is someone else's.
bool EditorApp::OverwriteConfirmed() {
    FileIdentity now;
    if (!IdentifyFile(filePath, now) || (diskIdentity && now == *diskIdentity))
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
    const std::string previousPath = filePath;
    filePath = path;
    const bool saved = SaveToFile();
    if (!saved)
        filePath = previousPath;
    UpdateTitle();
    if (editorWindow)
        editorWindow->viewport()->update();
    return saved;
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

bool EditorApp::ConfirmReplace(const std::string& path) {
    return platform::CurrentDesktop().MessageBox(
               frameWindow,
               "The file \"" + path + "\" already exists.\n\nDo you want to replace it?", "Varne",
               platform::MB_YESNO) == platform::IDYES;
}
