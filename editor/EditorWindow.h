// The editing component's window: QScintilla's widget under a name of our own,
// so that the program can choose how screen readers see it.
#pragma once

#include <Qsci/qsciscintillabase.h>

#include "editor/IdleStyler.h"

class EditorWindow : public QsciScintillaBase {
    Q_OBJECT

  public:
    explicit EditorWindow(QWidget* parent = nullptr);

    // True when the window uses QScintilla's full accessibility support, which
    // follows every change and caret move; false when it presents itself as a
    // plain widget because no assistive technology was active when it was made.
    bool FullAccessibility() const { return fullAccessibility; }

    // Whether a paste would insert anything. QScintilla's own answer to
    // SCI_CANPASTE does not look at the clipboard.
    bool CanPaste() const;

    // While a file is read into the window or written from it, the window
    // neither paints nor styles in idle time: the text that has arrived would
    // be styled and laid out again once the rest is there, and either would
    // stretch the transfer.
    void SetTransferring(bool transferring);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool fullAccessibility;
    bool transferring = false;
    IdleStyler* idleStyler;
};
