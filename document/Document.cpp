#include <algorithm>
#include <vector>

#include "app/EditorApp.h"
#include "document/FileAccess.h"
#include "editor/DocumentBytes.h"
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

enum class ReadResult { whole, failed, cancelled };

// Appends the file to the text block by block until its end, a read error or
// a cancel in the progress window.
ReadResult ReadBlocks(FileReader& file, platform::Progress& progress) {
    std::vector<char> block(blockSize);
    Position loaded = 0;
    for (;;) {
        const Position count = file.Read(block.data(), blockSize);
        if (count == 0)
            return ReadResult::whole;
        if (count < 0)
            return ReadResult::failed;
        theApp.SendEditor(SCI_ADDTEXT, static_cast<unsigned long>(count), block.data());
        loaded += count;
        if (!progress.Advance(loaded))
            return ReadResult::cancelled;
    }
}

} // namespace

void EditorApp::ShowMessage(const std::string& text) {
    platform::CurrentDesktop().MessageBox(frameWindow, text, "Varne", platform::MB_OK);
}

Position EditorApp::DocumentLimit() const {
    return editorWindow ? editorWindow->SizeLimit() : EditorWindow::defaultSizeLimit;
}

// A refused insertion changed nothing, but the component may have reported
// leaving its save point before it was refused.
void EditorApp::ReportRefusedInsertion() {
    modified = SendEditor(SCI_GETMODIFY) != 0;
    UpdateMenus();
    ShowMessage("The text was not added: the document would grow past " +
                DescribeSize(DocumentLimit()) + ", the most Varne can hold.");
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
    SendEditor(SCI_SETEOLMODE, SC_EOL_LF);
    filePath.clear();
    diskIdentity.reset();
    UpdateTitle();
    modified = false;
    SendEditor(SCI_SETSAVEPOINT);
}

// Room for the whole file before its first block goes in, so that loading does
// not regrow and copy the text again and again, plus some spare room so that
// the first edits afterwards do not copy the whole buffer either.
void EditorApp::ReserveRoomFor(int64_t bytes) {
    const int64_t spare = bytes / 16 + 65536;
    SendEditor(SCI_ALLOCATE, static_cast<unsigned long>(std::min(bytes + spare, DocumentLimit())));
}

// Enter adds the line end the file already uses, judged by its first one, so
// that editing a CRLF or CR file does not start mixing line ends. Nothing in
// the text is converted; a file without line ends keeps the LF of a new one.
void EditorApp::FollowFirstLineEnd() {
    if (SendEditor(SCI_GETLINECOUNT) < 2)
        return;
    const Position end = SendEditor(SCI_GETLINEENDPOSITION, 0);
    if (SendEditor(SCI_GETCHARAT, static_cast<unsigned long>(end)) != '\r')
        SendEditor(SCI_SETEOLMODE, SC_EOL_LF);
    else if (SendEditor(SCI_GETCHARAT, static_cast<unsigned long>(end + 1)) == '\n')
        SendEditor(SCI_SETEOLMODE, SC_EOL_CRLF);
    else
        SendEditor(SCI_SETEOLMODE, SC_EOL_CR);
}

// The file is opened before anything changes, so a file that cannot be opened
// leaves the current document as it was. A read that fails part-way, or that
// the person cancels, leaves an empty untitled document: partial text must
// never pass for the whole file.
void EditorApp::LoadFile(const std::string& path) {
    FileReader file;
    const FileStatus opened = file.Open(path, DocumentLimit());
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

    ReadResult result;
    {
        const EditorWindow::Transfer transfer(editorWindow);
        const auto progress = platform::CurrentDesktop().ShowProgress(
            frameWindow, "Opening \"" + path + "\"", file.Size(), true);
        ReserveRoomFor(file.Size());
        result = ReadBlocks(file, *progress);
    }
    if (result == ReadResult::whole) {
        FollowFirstLineEnd();
        diskIdentity = file.Identity();
    } else {
        NewDocument();
    }

    SendEditor(SCI_SETUNDOCOLLECTION, 1);
    if (editorWindow)
        editorWindow->setFocus();
    SendEditor(EM_EMPTYUNDOBUFFER);
    SendEditor(SCI_SETSAVEPOINT);
    // Moving the caret lays out its line. Styled first, that line need not be
    // laid out a second time when the first paint colours it, which on a page
    // minified to one line would double the cost of the open.
    SendEditor(SCI_COLOURISE, 0, SendEditor(SCI_POSITIONFROMLINE, 1));
    SendEditor(SCI_GOTOPOS, 0);
    if (result == ReadResult::failed)
        ShowMessage("Could not read file \"" + path + "\"." + Detail(file.LastError()));
}

void EditorApp::GetTextRange(Position start, Position end, char* buffer) {
    if (editorWindow)
        CopyBytes(*editorWindow, start, end, buffer);
}

// The document's text as a save asks for it, a block at a time, through a
// buffer of one block and the NUL the component writes after it.
BlockSource EditorApp::TextBlocks() {
    return [this, buffer = std::vector<char>(blockSize + 1)](Position start, size_t count) mutable {
        GetTextRange(start, start + Position(count), buffer.data());
        return static_cast<const char*>(buffer.data());
    };
}

// Only a save whose every step succeeded sets the save point and remembers the
// file as written; any failure is reported and the document stays modified.
// Without an editor there is no text, and nothing is written: an empty file
// would pass for the document.
bool EditorApp::SaveToFile() {
    if (!editorWindow)
        return false;
    const Position length = SendEditor(SCI_GETLENGTH);
    FileStatus saved;
    {
        const EditorWindow::Transfer transfer(editorWindow);
        const auto progress = platform::CurrentDesktop().ShowProgress(
            frameWindow, "Saving \"" + filePath + "\"", length, false);
        const BlockSource text = TextBlocks();
        const BlockSource source = [&](Position start, size_t count) {
            const char* block = text(start, count);
            progress->Advance(start + Position(count));
            return block;
        };
        saved = SaveFile(filePath, length, blockSize, source, onSaveChecked);
    }
    if (!saved.Ok()) {
        ShowMessage("Could not save file \"" + filePath + "\"." + Detail(saved));
        return false;
    }
    FileIdentity written;
    diskIdentity.reset();
    if (IdentifyFile(filePath, written))
        diskIdentity = written;
    SendEditor(SCI_SETSAVEPOINT);
    return true;
}
