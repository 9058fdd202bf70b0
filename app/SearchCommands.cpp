// The Search menu: Find, Find Next and Previous, Replace and Go to Line, and
// what the buttons of their windows ask for. The matching is Search.cpp's,
// the component's side EditorSearch.cpp's; this says what happened.
#include <chrono>

#include "app/EditorApp.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "platform/SearchWindows.h"

namespace {

using Clock = std::chrono::steady_clock;

// Work on the whole text as the person at the desk sees it: after half a
// second the progress window, with Cancel; until then, and between its
// steps, the windows repaint and the desktop sees the program answer.
class SearchWork {
  public:
    SearchWork(QWidget* owner, const std::string& text, Position total)
        : progress(platform::CurrentDesktop().ShowProgress(owner, text,
                                                           std::max<Position>(total, 1), true)),
          answered(Clock::now()) {}

    bool Advance(Position done) {
        const auto now = Clock::now();
        if (now - answered >= std::chrono::milliseconds(50)) {
            platform::AnswerWaitingEvents();
            answered = Clock::now();
        }
        return progress->Advance(done);
    }

    SearchProgress Follow() {
        return [this](Position done) { return Advance(done); };
    }

  private:
    std::unique_ptr<platform::Progress> progress;
    Clock::time_point answered;
};

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string Occurrences(size_t count) {
    return std::to_string(count) + (count == 1 ? " occurrence" : " occurrences");
}

} // namespace

// The search windows' buttons are commands: nothing starts while a load, a
// save or another search holds the text.
void EditorApp::HandleSearchRequest(const platform::SearchRequest& request) {
    if (!editorWindow || !door.Admits(TransferDoor::Request::Command))
        return;
    switch (request.action) {
    case platform::SearchAction::findNext:
        Find(request, true);
        break;
    case platform::SearchAction::findPrevious:
        Find(request, false);
        break;
    case platform::SearchAction::replace:
        Replace(request);
        break;
    case platform::SearchAction::replaceAll:
        ReplaceAll(request);
        break;
    case platform::SearchAction::goToLine:
        GoToLine(request.line);
        break;
    case platform::SearchAction::close:
        ReturnToText();
        break;
    }
    UpdateMenus();
}

void EditorApp::ShowFindWindow(bool replace) {
    if (!editorWindow)
        return;
    if (!findWindow)
        findWindow =
            new platform::FindWindow(frameWindow, [this](const platform::SearchRequest& request) {
                HandleSearchRequest(request);
            });
    findWindow->ShowFind(replace, SelectedLineText());
    findWindow->KeepClearOf(editorWindow->CaretArea());
}

// With nothing to find yet, the Find window asks for it.
void EditorApp::FindAgain(bool forward) {
    if (!findWindow || !findWindow->HasSomethingToFind()) {
        ShowFindWindow(false);
        return;
    }
    HandleSearchRequest(findWindow->Request(forward ? platform::SearchAction::findNext
                                                    : platform::SearchAction::findPrevious));
}

// The words go in the Find window, never in a message box. A miss or a
// mistake brings the window back if it was closed, so that after F3 too it
// is seen and heard.
void EditorApp::ShowSearchStatus(const std::string& text, bool reveal) {
    if (!findWindow)
        return;
    if (reveal && !findWindow->isVisible())
        findWindow->ShowFind(findWindow->Replacing(), std::string());
    findWindow->SetStatus(text);
}

std::unique_ptr<SearchPattern> EditorApp::CompileSearch(const platform::SearchRequest& request) {
    if (request.what.empty()) {
        ShowSearchStatus("Type what to find.");
        return nullptr;
    }
    SearchOptions options;
    options.matchCase = request.matchCase;
    options.wholeWord = request.wholeWord;
    options.regularExpression = request.regularExpression;
    std::string error;
    auto pattern = SearchPattern::Compile(request.what, options, error);
    if (!pattern)
        ShowSearchStatus(error);
    return pattern;
}

void EditorApp::Find(const platform::SearchRequest& request, bool forward) {
    const auto pattern = CompileSearch(request);
    if (!pattern)
        return;
    Match match;
    bool wrapped = false;
    SearchOutcome outcome;
    std::string error;
    {
        const TransferDoor::Hold busy(door, editorWindow);
        SearchWork work(frameWindow, "Searching for " + Quote(request.what),
                        SendEditor(SCI_GETLENGTH));
        TextSearch search(*pattern, DocumentBytes());
        outcome =
            FindFromSelection(search, forward, request.wrapAround, match, wrapped, work.Follow());
        error = search.Error();
    }
    switch (outcome) {
    case SearchOutcome::found:
        SelectMatch(match);
        if (!wrapped)
            ShowSearchStatus("", false);
        else if (forward)
            ShowSearchStatus("Passed the end of the document and went on from the start.", false);
        else
            ShowSearchStatus("Passed the start of the document and went on from the end.", false);
        if (findWindow)
            findWindow->KeepClearOf(editorWindow->CaretArea());
        break;
    case SearchOutcome::notFound:
        if (request.wrapAround)
            ShowSearchStatus(Quote(request.what) + " was not found.");
        else if (forward)
            ShowSearchStatus(Quote(request.what) + " was not found between the caret and the end.");
        else
            ShowSearchStatus(Quote(request.what) +
                             " was not found between the start and the caret.");
        break;
    case SearchOutcome::stopped:
        ShowSearchStatus("The search was stopped.");
        break;
    case SearchOutcome::failed:
        ShowSearchStatus(error);
        break;
    }
}

// A selection that is a match gives way to its replacement, in one undo
// step, and the next match is found; any other selection is left alone and
// only the next match found.
void EditorApp::Replace(const platform::SearchRequest& request) {
    const auto pattern = CompileSearch(request);
    if (!pattern)
        return;
    const Position start = SendEditor(SCI_GETSELECTIONSTART);
    const Position end = SendEditor(SCI_GETSELECTIONEND);
    std::string replacement;
    bool selected;
    {
        TextSearch search(*pattern, DocumentBytes());
        selected = search.IsMatchAt(start, end);
        if (selected && !search.Replacement(request.with, replacement)) {
            ShowSearchStatus(search.Error());
            return;
        }
    }
    if (selected) {
        if (!editorWindow->Accepts(Position(replacement.size()), end - start)) {
            ShowSearchStatus("Nothing was replaced: the document would grow past " +
                             DescribeSize(DocumentLimit()) + ", the most Varne can hold.");
            return;
        }
        SendEditor(SCI_SETTARGETRANGE, static_cast<unsigned long>(start), end);
        SendEditor(SCI_REPLACETARGET, replacement.size(), replacement.data());
        const Position after = start + Position(replacement.size());
        SendEditor(SCI_SETSEL, static_cast<unsigned long>(after), after);
    }
    Find(request, true);
}

// Every match is found first, on the text as it is, so that nothing changes
// when the result would not fit or the search fails or is cancelled; then
// the replacements go in as one undo step, which a cancel takes back.
void EditorApp::ReplaceAll(const platform::SearchRequest& request) {
    const auto pattern = CompileSearch(request);
    if (!pattern)
        return;
    const Position length = SendEditor(SCI_GETLENGTH);
    ReplacementPlan plan;
    SearchOutcome outcome;
    std::string error;
    bool fits = true;
    {
        const TransferDoor::Hold busy(door, editorWindow);
        SearchWork work(frameWindow, "Replacing " + Quote(request.what), 3 * length);
        {
            TextSearch search(*pattern, DocumentBytes());
            outcome = PlanReplaceAll(search, request.with, plan, work.Follow());
            error = search.Error();
        }
        fits = length + plan.peakGrowth <= DocumentLimit();
        if (outcome == SearchOutcome::found && fits) {
            // Screen readers hear of it as one change of the text.
            const EditorWindow::BulkChange oneUpdate(editorWindow);
            const double share = double(length) / double(plan.edits.size());
            const SearchProgress made = [&](Position edits) {
                return work.Advance(length + Position(double(edits) * share));
            };
            if (!ApplyReplacements(plan, made))
                outcome = SearchOutcome::stopped;
        }
        // What the view shows is styled before it is painted. Every match is
        // replaced by now, so this last part runs to its end.
        if (outcome == SearchOutcome::found && fits)
            StyleThrough(ScreenAfter(SendEditor(SCI_GETCURRENTPOS)), [&](Position styled) {
                work.Advance(2 * length + styled);
                return true;
            });
    }
    switch (outcome) {
    case SearchOutcome::found:
        if (fits)
            ShowSearchStatus("Replaced " + Occurrences(plan.edits.size()) + ".");
        else
            ShowSearchStatus("Nothing was replaced: the document would grow past " +
                             DescribeSize(DocumentLimit()) + ", the most Varne can hold.");
        break;
    case SearchOutcome::notFound:
        ShowSearchStatus(Quote(request.what) + " was not found; nothing was replaced.");
        break;
    case SearchOutcome::stopped:
        ShowSearchStatus("Replace All was cancelled; nothing was replaced.");
        break;
    case SearchOutcome::failed:
        ShowSearchStatus(error + " Nothing was replaced.");
        break;
    }
}

void EditorApp::ShowGoToLine() {
    if (!editorWindow)
        return;
    if (!goToLineWindow)
        goToLineWindow = new platform::GoToLineWindow(
            frameWindow,
            [this](const platform::SearchRequest& request) { HandleSearchRequest(request); });
    const Position caret = SendEditor(SCI_GETCURRENTPOS);
    goToLineWindow->ShowFor(
        long(SendEditor(SCI_GETLINECOUNT)),
        long(SendEditor(SCI_LINEFROMPOSITION, static_cast<unsigned long>(caret))) + 1);
}

// A line the document does not have is refused with a word in the window,
// which stays open for another number.
void EditorApp::GoToLine(long line) {
    if (!goToLineWindow)
        return;
    const Position lines = SendEditor(SCI_GETLINECOUNT);
    const std::string range = "from 1 to " + std::to_string(lines);
    if (line < 1) {
        goToLineWindow->SetStatus("Type a line number " + range + ".");
        return;
    }
    if (line > lines) {
        goToLineWindow->SetStatus("There is no line " + std::to_string(line) + ": type a number " +
                                  range + ".");
        return;
    }
    const Position start = SendEditor(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line - 1));
    {
        const TransferDoor::Hold busy(door, editorWindow);
        SearchWork work(frameWindow, "Going to line " + std::to_string(line), ScreenAfter(start));
        if (!StyleThrough(ScreenAfter(start), work.Follow()))
            return;
    }
    MoveToLine(line - 1);
    goToLineWindow->hide();
    ReturnToText();
}

// The search windows give the keyboard back to the text, where the caret and
// the match found are.
void EditorApp::ReturnToText() {
    if (!frameWindow || !editorWindow)
        return;
    frameWindow->activateWindow();
    editorWindow->setFocus();
}
