// Styling the text beyond the window while nothing else is going on, and
// styling no more than an edit changes.
//
// The component styles on demand what it is about to paint; what lies beyond
// waits until it comes into view, and a jump far into a big document then
// styles everything before it at once. This styles the rest in slices of a
// few milliseconds, one at a time between events, so typing stays as quick as
// before: all of a document up to idleBound after a load, and beyond that as
// far as the window has shown. A paint that would first have to style much
// more than the window shows paints the text as it is, and the slices colour
// it when they get there.
//
// After an edit the lexer styles again from the edited line, and the styles
// beyond it stay as they are: they are still right as soon as the lexer
// reaches a line end in the state it had there before the edit. That state is
// the style of the line end and the line's state, which together hold all the
// lexer carries into the next line (except where it cannot start afresh, in a
// tag or a PHP string, whose line states say so). Styling stops at the first
// such line end after each edited range, and the component's styled end moves
// on past the text whose styles are known to be right, to the next edited
// range or to where styling had got before the edit.
#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

#include "editor/EditorMessages.h"

class QsciScintillaBase;

class IdleStyler : public QObject {
    Q_OBJECT

  public:
    explicit IdleStyler(QsciScintillaBase* editor);

    // Around each paint of the window: first styles what the paint shows, or
    // lets the paint show the text as it is when that would mean styling far
    // more first; then starts the slices if anything within reach is left.
    void BeforePaint();
    void AfterPaint();
    // Starts styling in idle time if text within reach is unstyled.
    void Wake();
    // Styles the lines up to the one that holds position, now.
    void StyleTo(Position position);
    // While paused, nothing is styled and Wake() does nothing.
    void SetPaused(bool paused);

    // How much of a document idle time styles on its own, from its start
    // (about three seconds of one core): beyond it, only what the window
    // shows, and what lies before it.
    static constexpr Position idleBound = Position(128) << 20;
    // A paint first styles at most this much text above what it shows.
    static constexpr Position paintBound = Position(1) << 20;

  private:
    // Text beyond the styled end whose styles and line states are right, as
    // long as the lexer reaches its start with the line end before it in the
    // style and the line state given.
    struct Kept {
        Position start; // a line start
        Position end;
        int entryStyle;
        int entryLineState;
    };

    void BeforeChange(Position position, Position removed, Position inserted);
    void Forget(Position styledEnd);
    void StyleLines(Position toLine);
    void StyleChunk(Position fromLine, Position toLine);
    void StyleSlice();
    Position Reach() const;
    Kept StartingAtLine(Position line, Position end) const;

    Position Send(unsigned int message, Position wParam = 0, Position lParam = 0) const;
    Position EndStyled() const { return Send(SCI_GETENDSTYLED); }
    Position Length() const { return Send(SCI_GETLENGTH); }
    Position Lines() const { return Send(SCI_GETLINECOUNT); }
    Position LineOf(Position position) const { return Send(SCI_LINEFROMPOSITION, position); }
    Position LineStart(Position line) const;
    int StyleAt(Position position) const { return int(Send(SCI_GETSTYLEAT, position)); }
    int LineState(Position line) const { return int(Send(SCI_GETLINESTATE, line)); }

    QsciScintillaBase* editor;
    QTimer timer;
    bool paused = false;
    long linesPerSlice = 1000;
    std::vector<Kept> kept; // in order, apart, all beyond the styled end
    Position shown = 0;     // the end of the text the window has shown
    Position realEnd = -1;  // the styled end, while a paint shows text beyond it
};
