// Varne's one application object. All of the program's state lives in theApp;
// the frame's handlers and the start-up code reach it directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TransferDoor.h"
#include "document/FileAccess.h"
#include "document/Journal.h"
#include "editor/EditorMessages.h"
#include "editor/Search.h"
#include "platform/Endings.h"
#include "platform/Platform.h"
#include "resources/Resources.h"

class QApplication;
class QTimer;
class EditorWindow;
namespace platform {
class FrameWindow;
class FindWindow;
class GoToLineWindow;
struct SearchRequest;
} // namespace platform

// Files move between disk and the component in blocks of this many bytes.
constexpr int blockSize = 131072;

// How reading a text into the document ended.
enum class LoadResult { whole, failed, cancelled };

class EditorApp {
  public:
    EditorApp() = default;
    EditorApp(const EditorApp&) = delete;
    EditorApp& operator=(const EditorApp&) = delete;

    QApplication* instance = nullptr;
    platform::FrameWindow* frameWindow = nullptr;
    EditorWindow* editorWindow = nullptr;
    // The Search menu's windows, made when first asked for; the frame owns them.
    platform::FindWindow* findWindow = nullptr;
    platform::GoToLineWindow* goToLineWindow = nullptr;
    bool modified = false;
    std::string filePath; // bytes; empty for an untitled document
    // The file at filePath as it was last read or saved; none while unknown.
    std::optional<FileIdentity> diskIdentity;
    // The text came from a recovery journal and has not been saved since, so
    // it is unsaved even where the component sees no change.
    bool recovered = false;
    // How the recovery journal is kept, from the next StartUp on.
    Journal::Settings journalSettings;
    // Whether StartUp makes a journal at all: only the benchmark turns it off,
    // to measure Varne beside the same Varne without one.
    bool journalWanted = true;
    // Where filePath's symbolic links led then (ResolveLinks); empty while unknown.
    std::string diskTarget;
    // Shut while a file is read or written; every way in passes it.
    TransferDoor door;
    // Runs in each save once the file it replaces has been checked, just
    // before anything is written (SaveFile's checked): where a test changes
    // the file at the one moment a save counts on it. None until set, and
    // none again after ShutDown().
    std::function<void()> onSaveChecked;

    // Document state and file transfer (document/Document.cpp).
    void UpdateTitle();
    void NewDocument();
    // Opens path, or a copy of it that Varne kept, if the person prefers it
    // (OfferKeptCopy).
    void LoadFile(const std::string& path);
    bool SaveToFile();
    // Copies the bytes [start, end), within the document, and a NUL after
    // them to buffer, which has room for end - start + 1 bytes.
    void GetTextRange(Position start, Position end, char* buffer);

    // Dialogs and the save question (document/Dialogs.cpp). Save and SaveAs
    // return true when the text is safely on disk.
    void ChooseAndOpen();
    bool Save();
    bool SaveAs();
    int ConfirmDiscard();
    // The save question before the program ends; true to go ahead. Changes
    // the person said No to are given up, their journal with them.
    bool QuitConfirmed();

    // Commands, menu state and save points (app/Commands.cpp).
    void ExecuteCommand(unsigned short id);
    void UpdateMenus();
    void SetMenuItemEnabled(unsigned short id, bool enabled);
    void HandleNotification(const NotificationHeader& header);

    // Files from outside the dialogs (app/OpenFrom.cpp): the command line's,
    // read once at start-up, and files dropped on the window. Both open
    // through LoadFile, as the Open dialog does.
    void OpenFromCommandLine(const std::string& path);
    void OpenDroppedFiles(const std::vector<std::string>& paths);

    // Search (app/SearchCommands.cpp): the Search menu's commands come through
    // ExecuteCommand, and every button and Return of its windows here.
    void HandleSearchRequest(const platform::SearchRequest& request);

    // Styling (editor/Styling.cpp). A size below 1 or no face leaves it as it is.
    void SetStyle(int style, long fore, long back, int size = -1, const char* face = nullptr);
    void ConfigureEditor();

    // The one way messages reach the component (editor/EditorInterface.cpp). The
    // platform's WM_ and EM_ messages are passed on as their SCI_ equivalents.
    // Without an editor window nothing happens and the result is 0.
    Position SendEditor(unsigned int message, unsigned long wParam = 0, Position lParam = 0);
    Position SendEditor(unsigned int message, unsigned long wParam, const void* lParam);

    // Start-up and shut-down (app/StartUp.cpp). The ending handlers serve a
    // platform::EndingWatch, which main() keeps while the event loop runs.
    void StartUp(QApplication& application);
    void ShutDown();
    platform::EndingHandlers EndingHandlers();

    // Endings nobody chose at the desk (document/Endings.cpp): unsaved text
    // goes to an emergency copy and the journal; a logout asks the save
    // question.
    void PreserveUnsavedText();
    bool LogoutRequested();

    // The recovery journal (document/Recovery.cpp): every change goes to it
    // while the text is unsaved; journals left by processes that ended are
    // offered back when their file is opened (LoadFile), and untitled ones
    // by OfferUntitledRecovery(), at a start-up without a file.
    void OfferUntitledRecovery();
    // Hands the changes made since the last flush to the journal's writer.
    void FlushJournal();
    // The same, and waits until they are on disk; false when the writer is
    // still busy after the time given.
    bool SyncJournal(int milliseconds);

  private:
    struct Recovery {
        std::unique_ptr<KeptJournal> journal;
        bool asUntitled = false; // the file changed since: the text opens untitled
    };
    using BlockReader = std::function<int64_t(char* buffer, size_t count)>;

    LoadResult ReceiveDocument(const std::string& path, int64_t length,
                               const std::string& progressText, const BlockReader& read);
    Recovery OfferRecovery(const std::string& path);
    bool RecoverableSize(const KeptJournal& kept);
    void RecoverText(std::unique_ptr<KeptJournal> kept, const std::string& path);
    void CreateJournal();
    void StartJournal();
    void DropJournal();
    void AdoptJournal(std::unique_ptr<KeptJournal> kept);
    void RecordChange(int type, Position position, Position length);
    void RecordInsertion();
    void TakeJournalSnapshot();

    void CreateEditorWindow();
    void ShowMessage(const std::string& text);
    bool ConfirmReplace(const std::string& path);
    void ReserveRoomFor(int64_t bytes);
    BlockSource TextBlocks();
    Position DocumentLimit() const;
    void ReportRefusedInsertion();
    void FollowFirstLineEnd();
    bool CloseRequested();
    bool OverwriteConfirmed(LinkRule& links);
    bool WriteDocument(std::string path, LinkRule links);
    void AfterSave(const std::string& path, const FileStatus& saved);
    void KeepIdentityAfterFailedSave();
    std::string OfferKeptCopy(const std::string& path);

    // Deleted through the function CreateJournal() gives, so that a program
    // that has an EditorApp but never makes a journal (the pixel comparison
    // of the component) need not link one.
    std::unique_ptr<Journal, void (*)(Journal*)> journal{nullptr, nullptr};
    QTimer* journalTimer = nullptr; // the frame's
    // Typed text is recorded once the typing moves elsewhere or is flushed:
    // a run of keys costs one record, read back from the component.
    struct {
        Position position = 0;
        Position length = 0;
    } unrecorded;
    // The Search menu and its windows (app/SearchCommands.cpp).
    void ShowFindWindow(bool replace);
    void FindAgain(bool forward);
    void Find(const platform::SearchRequest& request, bool forward);
    void Replace(const platform::SearchRequest& request);
    void ReplaceAll(const platform::SearchRequest& request);
    void ShowGoToLine();
    void GoToLine(long line);
    void ReturnToText();
    void ShowSearchStatus(const std::string& text, bool reveal = true);
    std::unique_ptr<SearchPattern> CompileSearch(const platform::SearchRequest& request);

    // The search's side of the component (editor/EditorSearch.cpp): its
    // bytes read in place, matches found from the selection and selected,
    // replacements made in one undo step.
    std::string_view DocumentBytes();
    std::string SelectedLineText();
    SearchOutcome FindFromSelection(TextSearch& search, bool forward, bool wrap, Match& match,
                                    bool& wrapped, const SearchProgress& progress);
    void SelectMatch(const Match& match);
    bool ApplyReplacements(const ReplacementPlan& plan, const SearchProgress& progress);
    void MoveToLine(Position line);
    bool StyleThrough(Position end, const SearchProgress& progress);
    Position ScreenAfter(Position position);
};

extern EditorApp theApp;
