// The editing component's window: QScintilla's widget under a name of our own,
// so that the program can choose how screen readers see it and what it pastes.
#pragma once

#include <Qsci/qsciscintillabase.h>

#include "platform/ClipboardWatch.h"

class EditorWindow : public QsciScintillaBase {
    Q_OBJECT

  public:
    explicit EditorWindow(QWidget* parent = nullptr);

    // True when the window uses QScintilla's full accessibility support, which
    // follows every change and caret move; false when it presents itself as a
    // plain widget because no assistive technology was active when it was made.
    bool FullAccessibility() const { return fullAccessibility; }

    // Whether a paste would insert anything, from what the clipboard offered
    // when it last changed: cheap, and never waits for the clipboard's owner.
    // (QScintilla's own answer to SCI_CANPASTE does not look at the clipboard.)
    bool CanPaste() const;

    // Whether data offered in these formats can be pasted or dropped here.
    static bool CanInsertFormats(const QStringList& formats);

  signals:
    // What CanPaste() answers may have changed with the clipboard.
    void PasteChanged();

  protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;

  private:
    bool fullAccessibility;
    platform::ClipboardWatch clipboard;
};
