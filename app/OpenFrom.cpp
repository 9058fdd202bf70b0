// Files that come from outside the dialogs: the one on the command line, and
// those dropped on the window. Both go through LoadFile, with its refusals
// and messages, as a file chosen in the Open dialog does.
#include <cerrno>
#include <sys/stat.h>

#include "app/CommandLine.h"
#include "app/EditorApp.h"
#include "editor/EditorWindow.h"

namespace {

// No file by that name yet (nor perhaps its folder): the first Save makes it,
// or says why it cannot.
bool IsNewFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}

} // namespace

// At start-up, so there is nothing to ask about first. Unsaved text of a new
// file that a process which ended kept is offered back as for any file.
void EditorApp::OpenFromCommandLine(const std::string& given) {
    const std::string path = AbsolutePath(given);
    if (!IsNewFile(path)) {
        LoadFile(path);
        return;
    }
    Recovery recovery = OfferRecovery(path);
    if (recovery.journal) {
        RecoverText(std::move(recovery.journal), recovery.asUntitled ? std::string() : path);
        return;
    }
    NewDocument();
    filePath = path;
    diskTarget = ResolveLinks(path); // a link put there later is not followed
    UpdateTitle();
    StartJournal();
}

// The first file opens, once the save question has let the text go; the
// others are left, as one window holds one document.
void EditorApp::OpenDroppedFiles(const std::vector<std::string>& paths) {
    if (paths.empty() || !editorWindow || !door.Admits(TransferDoor::Request::Command))
        return;
    if (ConfirmDiscard() != platform::IDCANCEL)
        LoadFile(paths.front());
    UpdateMenus();
}
