#include <algorithm>
#include <optional>
#include <vector>

#include "app/EditorApp.h"
#include "document/BackgroundWork.h"
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
// a cancel in the progress window. Each block goes to the end of the text,
// wherever the caret may be.
ReadResult ReadBlocks(FileReader& file, EditorWindow* editor, platform::Progress& progress) {
    std::vector<char> block(blockSize);
    Position loaded = 0;
    for (;;) {
        const Position count = file.Read(block.data(), blockSize);
        if (count == 0)
            return ReadResult::whole;
        if (count < 0)
            return ReadResult::failed;
        {
            const EditorWindow::OwnChange append(editor);
            theApp.SendEditor(SCI_APPENDTEXT, static_cast<unsigned long>(count), block.data());
        }
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
    diskTarget.clear();
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
void EditorApp::LoadFile(const std::string& requested) {
    if (!door.IsOpen())
        return; // one transfer at a time
    const std::string path = OfferKeptCopy(requested);
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
        const TransferDoor::Hold reading(door, editorWindow);
        const auto progress = platform::CurrentDesktop().ShowProgress(
            frameWindow, "Opening \"" + path + "\"", file.Size(), true);
        ReserveRoomFor(file.Size());
        result = ReadBlocks(file, editorWindow, *progress);
    }
    if (result == ReadResult::whole) {
        FollowFirstLineEnd();
        diskIdentity = file.Identity();
        diskTarget = ResolveLinks(path);
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

// The document's text as an emergency copy asks for it, a block at a time,
// through a buffer of one block and the NUL the component writes after it.
BlockSource EditorApp::TextBlocks() {
    return [this, buffer = std::vector<char>(blockSize + 1)](Position start, size_t count) mutable {
        GetTextRange(start, start + Position(count), buffer.data());
        return static_cast<const char*>(buffer.data());
    };
}

bool EditorApp::SaveToFile() {
    return WriteDocument(filePath, LinkRule{});
}

// The file is written on a thread of its own, straight from the component's
// text, which stays read-only and in place until the save is over (the door
// is shut meanwhile). The GUI thread follows it; whatever must wait for the
// save, such as a logout, finishes it from within the event loop, and then
// finds the document saved or not, as after any save.
//
// Only a save whose every step succeeded sets the save point, gives the
// document the name it was saved under and remembers the file as written; any
// failure is reported and the document stays modified, under its old name.
// Without an editor there is no text, and nothing is written: an empty file
// would pass for the document.
bool EditorApp::WriteDocument(std::string path, LinkRule links) {
    if (!editorWindow || !door.IsOpen())
        return false;
    const Position length = SendEditor(SCI_GETLENGTH);
    const auto progress = platform::CurrentDesktop().ShowProgress(
        frameWindow, "Saving \"" + path + "\"", length, false);
    FileStatus saved;
    std::optional<BackgroundWork> save;
    door.Shut(editorWindow, [&save] { save->Finish(); });
    const char* text = editorWindow->TransferredText();
    auto write = [&saved, path, links, text, length,
                  checked = onSaveChecked](const BackgroundWork::Reached& reached) {
        const BlockSource source = [&](Position start, size_t count) {
            reached(start + Position(count));
            return text + start;
        };
        saved = SaveFile(path, length, blockSize, source, checked, links);
    };
    save.emplace(write, *progress, [&] {
        door.Open();
        AfterSave(path, saved);
    });
    save->Finish();
    return saved.Ok();
}

void EditorApp::AfterSave(const std::string& path, const FileStatus& saved) {
    if (!saved.Ok()) {
        if (path == filePath)
            KeepIdentityAfterFailedSave();
        ShowMessage("Could not save file \"" + path + "\"." + Detail(saved));
        return;
    }
    if (path != filePath) {
        filePath = path;
        UpdateTitle();
    }
    FileIdentity written;
    diskIdentity.reset();
    if (IdentifyFile(filePath, written))
        diskIdentity = written;
    diskTarget = ResolveLinks(filePath);
    SendEditor(SCI_SETSAVEPOINT);
}

// A save that failed while writing in place has put the old content back:
// the same file, of the same size, with a new modification time. That is
// still the file as it was read, not another program's version, and the next
// Save must not say otherwise. A file replaced meanwhile is another one.
void EditorApp::KeepIdentityAfterFailedSave() {
    FileIdentity now;
    if (diskIdentity && IdentifyFile(filePath, now) && now.device == diskIdentity->device &&
        now.inode == diskIdentity->inode && now.size == diskIdentity->size)
        diskIdentity = now;
}
