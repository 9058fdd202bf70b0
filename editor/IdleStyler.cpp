#include "editor/IdleStyler.h"

#include <QElapsedTimer>
#include <Qsci/qsciscintillabase.h>
#include <algorithm>

namespace {

// A key pressed during a slice waits for its end, so a slice lasts much less
// than a frame: in a real X server the window's answer to the desktop waited
// up to 20-23 ms with slices of 10 ms, and at most 11 ms with these. Styling
// text the window does not show repaints nothing.
constexpr qint64 sliceNanoseconds = 4'000'000;
constexpr long fewestLines = 50;
constexpr long mostLines = 1 << 20;
constexpr size_t mostKept = 1024;

// Set by the HTML lexer in the state of a line whose end leaves it inside a
// tag or a PHP string: styling restarted after such a line end goes back to
// the line where the tag or the string began, so the line end's style and
// state do not say all the lexer carries on.
constexpr int restartsEarlier = 1 << 29;

} // namespace

IdleStyler::IdleStyler(QsciScintillaBase* editor) : QObject(editor), editor(editor) {
    // A timer of no interval fires on every pass of the event loop, after the
    // input and paints that arrived meanwhile: a key waits one slice at most.
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, &IdleStyler::StyleSlice);
    connect(editor, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length) {
                if (type & SC_MOD_BEFOREINSERT)
                    BeforeChange(position, 0, length);
                else if (type & SC_MOD_BEFOREDELETE)
                    BeforeChange(position, length, 0);
            });
}

Position IdleStyler::Send(unsigned int message, Position wParam, Position lParam) const {
    return editor->SendScintilla(message, static_cast<unsigned long>(wParam), lParam);
}

// The start of a line; the end of the text for the line after the last.
Position IdleStyler::LineStart(Position line) const {
    return line >= Lines() ? Length() : Send(SCI_POSITIONFROMLINE, line);
}

// The text from the start of the line after line up to end, entered through
// that line's end as it is styled now.
IdleStyler::Kept IdleStyler::StartingAtLine(Position line, Position end) const {
    const Position start = LineStart(line + 1);
    return Kept{start, end, StyleAt(start - 1), LineState(line)};
}

void IdleStyler::SetPaused(bool pause) {
    paused = pause;
    if (paused)
        timer.stop();
}

// How far idle time styles: the first idleBound bytes and what the window
// has shown.
Position IdleStyler::Reach() const {
    return std::min(Length(), std::max(idleBound, shown));
}

void IdleStyler::Wake() {
    if (paused || timer.isActive())
        return;
    if (EndStyled() < Reach())
        timer.start();
}

// Keeps account of what a change leaves right, before it happens: the styled
// text and the kept text beyond the line where the change ends stay right as
// long as the lexer reaches that line's end in the state it has now.
void IdleStyler::BeforeChange(Position position, Position removed, Position inserted) {
    const Position styledEnd = EndStyled();
    Forget(styledEnd);
    const Position delta = inserted - removed;
    const Position line = LineOf(position + removed);
    const bool lineEnds = line + 1 < Lines();
    const Position next = lineEnds ? LineStart(line + 1) : Length() + 1;
    auto moved = [delta](Kept stretch) {
        stretch.start += delta;
        stretch.end += delta;
        return stretch;
    };

    std::vector<Kept> after;
    if (lineEnds && position < styledEnd && next < styledEnd)
        after.push_back(moved(StartingAtLine(line, styledEnd)));
    for (const Kept& stretch : kept) {
        if (stretch.end <= position) {
            after.push_back(stretch);
        } else if (stretch.start >= next) {
            after.push_back(moved(stretch));
        } else {
            if (stretch.start < position)
                after.push_back(
                    Kept{stretch.start, position, stretch.entryStyle, stretch.entryLineState});
            if (stretch.end > next)
                after.push_back(moved(StartingAtLine(line, stretch.end)));
        }
    }
    std::sort(after.begin(), after.end(),
              [](const Kept& a, const Kept& b) { return a.start < b.start; });
    // Many edits before styling reaches them: the furthest are styled again
    // in full rather than kept account of.
    if (after.size() > mostKept)
        after.resize(mostKept);
    kept.swap(after);
    if (shown > position)
        shown = std::max(position, shown + delta);
}

// Drops what styling has reached since: line ends before styledEnd have been
// styled again, so the kept text starts after the line that holds it.
void IdleStyler::Forget(Position styledEnd) {
    auto reached = std::find_if(kept.begin(), kept.end(), [styledEnd](const Kept& stretch) {
        return stretch.end > styledEnd;
    });
    kept.erase(kept.begin(), reached);
    if (kept.empty() || kept.front().start > styledEnd)
        return;
    const Kept rest = StartingAtLine(LineOf(styledEnd), kept.front().end);
    if (rest.start < rest.end)
        kept.front() = rest;
    else
        kept.erase(kept.begin());
}

// Styles whole lines from the line of the first unstyled byte up to toLine,
// as the component does, and stops early where the lexer
// reaches a line end of kept text in the state it had there: the kept text
// from there on is right, and styling goes on after it. Where kept text lies
// ahead, the lines are styled in steps that double, each ending where it may
// have caught up.
void IdleStyler::StyleLines(Position toLine) {
    Forget(EndStyled());
    const Position end = LineStart(toLine);
    Position step = 1;
    while (EndStyled() < end) {
        const Position line = LineOf(EndStyled());
        Position upTo = toLine;
        if (!kept.empty()) {
            const Position keptLine = LineOf(kept.front().start);
            if (keptLine <= toLine) {
                upTo = std::min(toLine, std::max(keptLine, line + step));
                step *= 2;
            }
        }
        StyleChunk(line, upTo);
    }
}

void IdleStyler::StyleChunk(Position fromLine, Position toLine) {
    const Position start = LineStart(fromLine);
    const Position end = LineStart(toLine);

    // The state of each line end of kept text in the chunk, before styling.
    struct LineEnd {
        Position line; // the line after it
        int style;
        int lineState;
        Position keptEnd;
    };
    std::vector<LineEnd> before;
    for (const Kept& stretch : kept) {
        if (stretch.start > end)
            break;
        before.push_back(
            {LineOf(stretch.start), stretch.entryStyle, stretch.entryLineState, stretch.end});
        for (Position line = before.back().line + 1; line <= toLine; ++line) {
            const Position lineStart = LineStart(line);
            if (lineStart >= stretch.end)
                break;
            before.push_back({line, StyleAt(lineStart - 1), LineState(line - 1), stretch.end});
        }
    }

    if (end > start)
        Send(SCI_COLOURISE, start, end);

    Position rightUpTo = -1;
    for (const LineEnd& was : before) {
        const Position lineStart = LineStart(was.line);
        if (lineStart < rightUpTo)
            continue; // within text already known to be right
        const int lineState = LineState(was.line - 1);
        if (!(lineState & restartsEarlier) && lineState == was.lineState &&
            StyleAt(lineStart - 1) == was.style)
            rightUpTo = was.keptEnd;
    }
    if (rightUpTo > end)
        Send(SCI_STARTSTYLING, rightUpTo);
    Forget(EndStyled());
}

void IdleStyler::StyleTo(Position position) {
    if (EndStyled() < position)
        StyleLines(LineOf(position) + 1);
}

// What the paint shows must be styled first, and what lies before it. A
// little of that is styled now; much more is left to the slices, and the
// paint meanwhile shows the text with the styles it has.
void IdleStyler::BeforePaint() {
    if (paused)
        return;
    const Position styledEnd = EndStyled();
    const Position top = Send(SCI_GETFIRSTVISIBLELINE);
    const Position first = Send(SCI_DOCLINEFROMVISIBLE, top);
    const Position last = Send(SCI_DOCLINEFROMVISIBLE, top + Send(SCI_LINESONSCREEN) + 1);
    const Position viewEnd = LineStart(last + 1);
    if (styledEnd >= viewEnd)
        return;
    const Position fromLine = LineOf(styledEnd);
    if (LineStart(first) - LineStart(fromLine) <= paintBound) {
        StyleLines(last + 1);
        return;
    }
    shown = std::max(shown, viewEnd);
    realEnd = styledEnd;
    Send(SCI_STARTSTYLING, viewEnd);
}

void IdleStyler::AfterPaint() {
    if (realEnd >= 0) {
        Send(SCI_STARTSTYLING, realEnd);
        realEnd = -1;
    }
    Wake();
}

// Styles whole lines from the line of the first unstyled byte, and sizes the
// next slice by the time this one took.
void IdleStyler::StyleSlice() {
    const Position reach = Reach();
    const Position styledEnd = EndStyled();
    if (paused || styledEnd >= reach) {
        timer.stop();
        return;
    }
    const Position fromLine = LineOf(styledEnd);
    const Position toLine = std::min(fromLine + linesPerSlice, LineOf(reach) + 1);

    QElapsedTimer clock;
    clock.start();
    StyleLines(toLine);
    const qint64 took = std::max<qint64>(clock.nsecsElapsed(), 1);
    const double scale = std::clamp(double(sliceNanoseconds) / double(took), 0.5, 2.0);
    linesPerSlice = std::clamp(long(double(linesPerSlice) * scale), fewestLines, mostLines);

    if (EndStyled() >= Reach())
        timer.stop();
}
