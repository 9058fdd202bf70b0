// The search's side of the component: its bytes read where they lie, the
// selection as the place a search starts, and replacements made in one undo
// step. What matches is Search.cpp's to say.
#include <algorithm>

#include "app/EditorApp.h"
#include "editor/DocumentBytes.h"
#include "editor/EditorWindow.h"

namespace {

// Matches this close together go in as one piece, the bytes between them
// put back as they were. The component records and announces each change
// it makes, which for a million small ones costs seconds; a piece of up to
// 64 KiB costs about as much as one of them. Its undo step keeps the bytes
// between the matches twice, which for matches a kilobyte apart is about
// what it keeps for each change of its own.
constexpr Position closeTogether = 1024;
constexpr Position pieceLimit = 64 << 10;
// Styling goes a mebibyte at a time, a few milliseconds each.
constexpr Position styleSlice = 1 << 20;

} // namespace

// In place, without a copy: the component gathers its text in one block
// first, if it is not in one already.
std::string_view EditorApp::DocumentBytes() {
    const Position length = SendEditor(SCI_GETLENGTH);
    const auto* bytes = reinterpret_cast<const char*>(SendEditor(SCI_GETRANGEPOINTER, 0, length));
    return bytes ? std::string_view(bytes, size_t(length)) : std::string_view();
}

// The selection, when it holds text on one line, as a first thing to find.
std::string EditorApp::SelectedLineText() {
    const Position start = SendEditor(SCI_GETSELECTIONSTART);
    const Position end = SendEditor(SCI_GETSELECTIONEND);
    constexpr Position longest = 1000;
    if (end <= start || end - start > longest ||
        SendEditor(SCI_LINEFROMPOSITION, static_cast<unsigned long>(start)) !=
            SendEditor(SCI_LINEFROMPOSITION, static_cast<unsigned long>(end)))
        return std::string();
    std::string text;
    CopyBytes(*editorWindow, start, end, text);
    return text;
}

// Forward from the selection's end, backward from its start; with wrap, the
// rest of the document after that. An empty match where the caret already
// is would be found again and again, so the search goes on past it.
SearchOutcome EditorApp::FindFromSelection(TextSearch& search, bool forward, bool wrap,
                                           Match& match, bool& wrapped,
                                           const SearchProgress& progress) {
    const Position start = SendEditor(SCI_GETSELECTIONSTART);
    const Position end = SendEditor(SCI_GETSELECTIONEND);
    const Position length = search.Length();
    Position before = 0; // progress of the part already searched
    const SearchProgress advance = [&](Position done) {
        return !progress || progress(before + done);
    };
    wrapped = false;
    SearchOutcome outcome;
    if (forward) {
        outcome = search.Forward(end, length, match, advance);
        if (outcome == SearchOutcome::found && match.end == match.start && match.start == end &&
            start == end)
            outcome = search.Forward(search.After(match), length, match, advance);
        if (outcome == SearchOutcome::notFound && wrap && end > 0) {
            wrapped = true;
            before = length - end;
            outcome = search.Forward(0, end - 1, match, advance);
        }
    } else {
        outcome = search.Backward(0, start, match, advance);
        if (outcome == SearchOutcome::notFound && wrap && start < length) {
            wrapped = true;
            before = start;
            outcome = search.Backward(start, length, match, advance);
        }
    }
    return outcome;
}

// The caret goes to the match's end, and the view follows it there.
void EditorApp::SelectMatch(const Match& match) {
    SendEditor(SCI_SETSEL, static_cast<unsigned long>(match.start), match.end);
}

// The edits go in from the first to the last, so the text after the one
// being made is still the text they were planned on, shifted by what the
// earlier ones added. A cancel takes back what was done; otherwise the caret
// and anchor keep their places in the text around them.
bool EditorApp::ApplyReplacements(const ReplacementPlan& plan, const SearchProgress& progress) {
    const Position anchor = SendEditor(SCI_GETANCHOR);
    const Position caret = SendEditor(SCI_GETCURRENTPOS);
    const auto& edits = plan.edits;
    Position shift = 0;
    std::string piece;
    bool cancelled = false;
    SendEditor(SCI_BEGINUNDOACTION);
    for (size_t i = 0; i < edits.size() && !cancelled;) {
        size_t next = i + 1;
        while (next < edits.size() && edits[next].start - edits[next - 1].end <= closeTogether &&
               edits[next].end - edits[i].start <= pieceLimit)
            ++next;
        const Position start = edits[i].start;
        const Position end = edits[next - 1].end;
        std::string_view bytes = plan.Text(edits[i]);
        if (next > i + 1) {
            const auto* original = reinterpret_cast<const char*>(SendEditor(
                SCI_GETRANGEPOINTER, static_cast<unsigned long>(start + shift), end - start));
            piece.clear();
            for (size_t e = i; e < next; ++e) {
                if (e > i)
                    piece.append(original + (edits[e - 1].end - start),
                                 size_t(edits[e].start - edits[e - 1].end));
                piece.append(plan.Text(edits[e]));
            }
            bytes = piece;
        }
        {
            const EditorWindow::OwnChange replacing(editorWindow);
            SendEditor(SCI_SETTARGETRANGE, static_cast<unsigned long>(start + shift), end + shift);
            SendEditor(SCI_REPLACETARGET, bytes.size(), bytes.data());
        }
        shift += Position(bytes.size()) - (end - start);
        i = next;
        cancelled = progress && !progress(Position(i));
    }
    SendEditor(SCI_ENDUNDOACTION);
    if (cancelled) {
        const EditorWindow::OwnChange takingBack(editorWindow);
        SendEditor(SCI_UNDO);
        SendEditor(SCI_SETSEL, static_cast<unsigned long>(anchor), caret);
        return false;
    }
    SendEditor(SCI_SETSEL, static_cast<unsigned long>(plan.Moved(anchor)), plan.Moved(caret));
    return true;
}

// The lexer styles on demand what is about to be painted, everything before
// it first: after a change near the start, or a jump far into a document
// opened a moment ago, the next paint would style megabytes while the
// window waits. Styled here in slices instead, the work goes on behind the
// progress window and can be stopped.
bool EditorApp::StyleThrough(Position end, const SearchProgress& progress) {
    if (!editorWindow)
        return true;
    end = std::min(end, SendEditor(SCI_GETLENGTH));
    for (Position styled = SendEditor(SCI_GETENDSTYLED); styled < end;) {
        editorWindow->StyleTo(std::min(end, styled + styleSlice));
        const Position reached = SendEditor(SCI_GETENDSTYLED);
        if (reached <= styled)
            break;
        styled = reached;
        if (progress && !progress(styled))
            return false;
    }
    return true;
}

// The end of the screenful that shows a position wherever the view puts it.
Position EditorApp::ScreenAfter(Position position) {
    const Position line = SendEditor(SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    const Position end = SendEditor(
        SCI_POSITIONFROMLINE, static_cast<unsigned long>(line + SendEditor(SCI_LINESONSCREEN) + 1));
    return end < 0 ? SendEditor(SCI_GETLENGTH) : end;
}

// The line's start, with the line in the middle of the view.
void EditorApp::MoveToLine(Position line) {
    SendEditor(SCI_GOTOLINE, static_cast<unsigned long>(line));
    const Position middle = line - SendEditor(SCI_LINESONSCREEN) / 2;
    SendEditor(SCI_SETFIRSTVISIBLELINE, static_cast<unsigned long>(std::max<Position>(0, middle)));
}
