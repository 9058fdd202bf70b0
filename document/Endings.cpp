// The document's side of endings nobody chose at the desk: unsaved text goes
// to an emergency copy beside the file (or in the home folder), and a logout
// asks the usual question.
#include <cstdio>

#include "app/EditorApp.h"
#include "document/FileAccess.h"

// The document file itself is never written without the user's word: the text
// goes to a new file that replaces nothing, and its path goes to stderr, where
// a session log or the terminal keeps it.
//
// The journal gets the last changes too, so that the next open offers them
// back; its writer works while the copy is written.
void EditorApp::PreserveUnsavedText() {
    if (!modified || !editorWindow)
        return;
    FlushJournal();
    const std::string beside = filePath.empty() ? HomeFolder() + "/Untitled" : filePath;
    std::string written;
    const FileStatus kept = SaveCopyBeside(beside, unsavedSuffix, SendEditor(SCI_GETLENGTH),
                                           blockSize, TextBlocks(), written);
    if (kept.Ok())
        std::fprintf(stderr, "varne: unsaved text kept in %s\n", written.c_str());
    else
        std::fprintf(stderr, "varne: could not keep the unsaved text: %s\n", kept.reason.c_str());
    if (!SyncJournal(10000))
        std::fprintf(stderr, "varne: the recovery journal was still being written at the end\n");
}

// No lets the logout go ahead without the changes, as Exit does after No: the
// program ends at once, so that the session's end asks nothing again.
//
// A logout can arrive while a long load or save lets the event loop run. It
// passes the door first: a save is finished before anything is asked. Work
// that cannot be waited for (a load, Replace All) holds the text: nothing is
// asked then, and only unsaved text calls the logout off.
bool EditorApp::LogoutRequested() {
    if (!door.Admits(TransferDoor::Request::Logout))
        return !modified;
    if (!QuitConfirmed())
        return false;
    if (modified)
        platform::CurrentDesktop().PostQuitMessage(0);
    return true;
}
