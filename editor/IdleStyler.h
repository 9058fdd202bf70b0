// Colouring the text beyond the window while nothing else is going on, so that
// a jump far into a big document, a scroll-bar drag or a search a few seconds
// after opening finds the text already styled and costs no more than on a
// small file.
//
// The component styles on demand what it is about to paint; what lies beyond
// waits until it comes into view, and a jump to the end of a big file then
// styles everything before it at once. This styles the rest in slices of about
// ten milliseconds, one at a time between events, so typing stays as quick as
// before. A jump before the rest is done still works: it styles what is left,
// as it always did.
#pragma once

#include <QObject>
#include <QTimer>

class QsciScintillaBase;

class IdleStyler : public QObject {
    Q_OBJECT

  public:
    explicit IdleStyler(QsciScintillaBase* editor);

    // Starts styling in idle time if any text after the styled part is left
    // unstyled. Called after each paint, the moment the component has styled
    // what it shows.
    void Wake();
    // While paused, no slice is styled and Wake() does nothing.
    void SetPaused(bool paused);

  private:
    void StyleSlice();

    QsciScintillaBase* editor;
    QTimer timer;
    bool paused = false;
    long linesPerSlice = 1000;
};
