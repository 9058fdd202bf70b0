#include "editor/IdleStyler.h"

#include <QElapsedTimer>
#include <Qsci/qsciscintillabase.h>
#include <algorithm>

#include "editor/EditorMessages.h"

namespace {

// A key pressed during a slice waits for its end, so a slice lasts less than
// a frame. Styling text the window does not show repaints nothing.
constexpr qint64 sliceNanoseconds = 10'000'000;
constexpr long fewestLines = 50;
constexpr long mostLines = 1 << 20;

} // namespace

IdleStyler::IdleStyler(QsciScintillaBase* editor) : QObject(editor), editor(editor) {
    // A timer of no interval fires on every pass of the event loop, after the
    // input and paints that arrived meanwhile: a key waits one slice at most.
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, &IdleStyler::StyleSlice);
    connect(editor, &QsciScintillaBase::SCN_PAINTED, this, &IdleStyler::Wake);
}

void IdleStyler::Wake() {
    if (paused || timer.isActive())
        return;
    if (editor->SendScintilla(SCI_GETENDSTYLED) < editor->SendScintilla(SCI_GETLENGTH))
        timer.start();
}

void IdleStyler::SetPaused(bool pause) {
    paused = pause;
    if (paused)
        timer.stop();
}

// Styles whole lines from the line of the first unstyled byte, as the
// component itself does, and sizes the next slice by the time this one took.
void IdleStyler::StyleSlice() {
    const long length = editor->SendScintilla(SCI_GETLENGTH);
    const long endStyled = editor->SendScintilla(SCI_GETENDSTYLED);
    if (endStyled >= length) {
        timer.stop();
        return;
    }
    const long line =
        editor->SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(endStyled));
    const long start =
        editor->SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    long end = editor->SendScintilla(SCI_POSITIONFROMLINE,
                                     static_cast<unsigned long>(line + linesPerSlice));
    if (end < 0)
        end = length; // past the last line

    QElapsedTimer clock;
    clock.start();
    editor->SendScintilla(SCI_COLOURISE, static_cast<unsigned long>(start), end);
    const qint64 took = std::max<qint64>(clock.nsecsElapsed(), 1);
    const double scale = std::clamp(double(sliceNanoseconds) / double(took), 0.5, 2.0);
    linesPerSlice = std::clamp(long(double(linesPerSlice) * scale), fewestLines, mostLines);

    if (editor->SendScintilla(SCI_GETENDSTYLED) >= length)
        timer.stop();
}
