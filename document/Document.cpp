#include <algorithm>
#include <vector>

#include "app/EditorApp.h"
#include "document/FileAccess.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"

namespace {

// The reason for a failure, on a paragraph of its own below the message.
std::string Detail(const FileStatus& status) {
    std::string detail = "\n\n" + status.reason;
    if (detail.back() != '.')
        detail += '.';
    return detail;
}

} // namespace

void EditorApp::ShowMessage(const std::string& text) {
    platform::CurrentDesktop().MessageBox(frameWindow, text, "Varne", platform::MB_OK);
}

void EditorApp::UpdateTitle() {
    if (frameWindow)
        frameWindow->SetCaption("Varne - " + filePath);
    if (editorWindow)
        editorWindow->SetDocumentName(filePath);
}

void EditorApp::NewDocument() {
    const EditorWindow::BulkChange oneUpdate(editorWindow);
    // The cleared text is not worth an undo step that is forgotten at once, and
    // recording it would copy the whole document first.
    SendEditor(SCI_SETUNDOCOLLECTION, 0);
    SendEditor(SCI_CLEARALL);
    SendEditor(SCI_SETUNDOCOLLECTION, 1);
    SendEditor(EM_EMPTYUNDOBUFFER);
    filePath.clear();
    UpdateTitle();
    modified = false;
    SendEditor(SCI_SETSAVEPOINT);
}

// Room for the whole file before its first block goes in, so that loading does
// not regrow and copy the text again and again, plus some spare room so that
// the first edits afterwards do not copy the whole buffer either.
void EditorApp::ReserveRoomFor(int64_t bytes) {
    const int64_t spare = bytes / 16 + 65536;
    SendEditor(SCI_ALLOCATE, static_cast<unsigned long>(std::min(bytes + spare, maxDocumentSize)));
}

// The file is opened before anything changes, so a file that cannot be opened
// leaves the current document as it was. A read that fails part-way leaves an
// empty untitled document: partial text must never pass for the whole file.
void EditorApp::LoadFile(const std::string& path) {
    FileReader file;
    const FileStatus opened = file.Open(path);
    if (!opened.Ok()) {
        ShowMessage("Could not open file \"" + path + "\"." + Detail(opened));
        return;
    }
    // Screen readers hear of the new text once, not once per block.
    const EditorWindow::BulkChange oneUpdate(editorWindow);
    NewDocument();
    SendEditor(SCI_CANCEL);
    SendEditor(SCI_SETUNDOCOLLECTION, 0);
    filePath = path;
    UpdateTitle();

    ReserveRoomFor(file.Size());
    std::vector<char> block(blockSize);
    long count;
    while ((count = file.Read(block.data(), blockSize)) > 0)
        SendEditor(SCI_ADDTEXT, static_cast<unsigned long>(count), block.data());
    const bool complete = count == 0;
    if (!complete)
        NewDocument();

    SendEditor(SCI_SETUNDOCOLLECTION, 1);
    if (editorWindow)
        editorWindow->setFocus();
    SendEditor(EM_EMPTYUNDOBUFFER);
    SendEditor(SCI_SETSAVEPOINT);
    SendEditor(SCI_GOTOPOS, 0);
    if (!complete)
        ShowMessage("Could not read file \"" + path + "\"." + Detail(file.LastError()));
}

void EditorApp::GetTextRange(int start, int end, char* buffer) {
    TextRange range{start, end, buffer};
    SendEditor(EM_GETTEXTRANGE, 0, &range);
}

// Only a save whose every step succeeded sets the save point; any failure is
// reported and the document stays modified.
bool EditorApp::SaveToFile() {
    const long length = SendEditor(SCI_GETLENGTH);
    std::vector<char> buffer(blockSize + 1);
    const BlockSource source = [&](int64_t start, size_t count) {
        GetTextRange(int(start), int(start + int64_t(count)), buffer.data());
        return buffer.data();
    };
    const FileStatus saved = SaveFile(filePath, length, blockSize, source);
    if (!saved.Ok()) {
        ShowMessage("Could not save file \"" + filePath + "\"." + Detail(saved));
        return false;
    }
    SendEditor(SCI_SETSAVEPOINT);
    return true;
}
