#include <algorithm>
#include <functional>
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

// Appends the text block by block until its end, a read error or a cancel in
// the progress window. Each block goes to the end of the text, wherever the
// caret may be.
LoadResult ReadBlocks(const std::function<int64_t(char*, size_t)>& read, EditorWindow* editor,
                      platform::Progress& progress) {
    std::vector<char> block(blockSize);
    Position loaded = 0;
    for (;;) {
        const Position count = read(block.data(), blockSize);
        if (count == 0)
            return LoadResult::whole;
        if (count < 0)
            return LoadResult::failed;
        {
            const EditorWindow::OwnChange append(editor);
            theApp.SendEditor(SCI_APPENDTEXT, static_cast<unsigned long>(count), block.data());
        }
        loaded += count;
        if (!progress.Advance(loaded))
            return LoadResult::cancelled;
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
    modified = recovered || SendEditor(SCI_GETMODIFY) != 0;
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
    DropJournal();
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
    recovered = false;
    SendEditor(SCI_SETSAVEPOINT);
    StartJournal();
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
//
// Unsaved changes to the file that a process which has ended left in a
// journal are offered first; recovered, they are the text read. Otherwise an
// emergency copy or a backup kept beside the file may be opened instead.
void EditorApp::LoadFile(const std::string& requested) {
    if (!door.IsOpen())
        return; // one transfer at a time
    Recovery recovery = OfferRecovery(requested);
    if (recovery.journal && (recovery.asUntitled || !recovery.journal->BaseFile())) {
        RecoverText(std::move(recovery.journal), recovery.asUntitled ? std::string() : requested);
        return;
    }
    const std::string path = recovery.journal ? requested : OfferKeptCopy(requested);
    FileReader file;
    const FileStatus opened = file.Open(path, DocumentLimit());
    if (!opened.Ok()) {
        ShowMessage("Could not open file \"" + path + "\"." + Detail(opened));
        return;
    }
    KeptJournal* kept = recovery.journal.get();
    if (kept && file.Identity() != kept->BaseFile()) {
        ShowMessage("\"" + path + "\" changed on disk just now, so its unsaved changes were not " +
                    "recovered. They are kept for another time.");
        kept = nullptr;
    }
    if (kept && !RecoverableSize(*kept))
        kept = nullptr;
    const BlockReader readFile = [&file](char* buffer, size_t count) {
        return file.Read(buffer, count);
    };
    if (kept && !kept->HoldsItsText())
        kept->StartReading({readFile, [&file] { return file.LastError(); }});
    else if (kept)
        kept->StartReading({});
    const BlockReader readKept = [kept](char* buffer, size_t count) {
        return kept->Read(buffer, count);
    };
    const LoadResult result =
        kept ? ReceiveDocument(path, kept->Length(),
                               "Recovering unsaved changes to \"" + path + "\"", readKept)
             : ReceiveDocument(path, file.Size(), "Opening \"" + path + "\"", readFile);
    if (result == LoadResult::whole) {
        diskIdentity = file.Identity();
        diskTarget = ResolveLinks(path);
        if (kept)
            AdoptJournal(std::move(recovery.journal));
        else
            StartJournal();
    }
    if (result == LoadResult::failed && kept)
        ShowMessage("Could not recover the unsaved changes to \"" + path + "\"." +
                    Detail(kept->LastError()) + "\n\nThey are kept for another time.");
    else if (result == LoadResult::failed)
        ShowMessage("Could not read file \"" + path + "\"." + Detail(file.LastError()));
}

// Kept text that no file on disk holds becomes the document, untitled or
// under the name of a file still to be saved. Its new journal holds the text
// whole before the kept one is removed.
void EditorApp::RecoverText(std::unique_ptr<KeptJournal> kept, const std::string& path) {
    if (!RecoverableSize(*kept))
        return;
    kept->StartReading({});
    const LoadResult result =
        ReceiveDocument(path, kept->Length(), "Recovering unsaved text",
                        [&kept](char* buffer, size_t count) { return kept->Read(buffer, count); });
    if (result == LoadResult::failed)
        ShowMessage("Could not recover the unsaved text." + Detail(kept->LastError()) +
                    "\n\nIt is kept for another time.");
    if (result != LoadResult::whole)
        return;
    recovered = true;
    modified = true;
    StartJournal();
    journal->Retire(std::move(kept));
    UpdateMenus();
}

// Replaces the document with the text read, behind the shut door, as one
// change for screen readers and with no undo step. The journal hears nothing
// of it: its caller starts the new one. A read that does not end whole
// leaves an empty untitled document.
LoadResult EditorApp::ReceiveDocument(const std::string& path, int64_t length,
                                      const std::string& progressText, const BlockReader& read) {
    // Screen readers hear of the new text once, not once per block.
    const EditorWindow::BulkChange oneUpdate(editorWindow);
    NewDocument();
    DropJournal();
    SendEditor(SCI_CANCEL);
    SendEditor(SCI_SETUNDOCOLLECTION, 0);
    filePath = path;
    UpdateTitle();

    LoadResult result;
    {
        const TransferDoor::Hold reading(door, editorWindow);
        const auto progress =
            platform::CurrentDesktop().ShowProgress(frameWindow, progressText, length, true);
        ReserveRoomFor(length);
        result = ReadBlocks(read, editorWindow, *progress);
    }
    if (result == LoadResult::whole)
        FollowFirstLineEnd();
    else
        NewDocument();

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
    return result;
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
    recovered = false;
    SendEditor(SCI_SETSAVEPOINT);
    StartJournal();
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
