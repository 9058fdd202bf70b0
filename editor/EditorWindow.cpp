#include "editor/EditorWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

// QScintilla's accessible interface counts characters from the start of the
// document on every insertion and caret move, which costs time in proportion
// to the document's size on each keystroke. Without a screen reader nobody
// needs those answers, so the editor then presents itself as a plain widget.
QAccessibleInterface* PlainEditorAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("EditorWindow")) {
        auto* editor = static_cast<EditorWindow*>(object);
        if (!editor->FullAccessibility())
            return new QAccessibleWidget(editor, QAccessible::EditableText);
    }
    return nullptr;
}

} // namespace

EditorWindow::EditorWindow(QWidget* parent)
    : QsciScintillaBase(parent), fullAccessibility(QAccessible::isActive()),
      clipboard([this] { emit PasteChanged(); }) {
    // Installed after QScintilla's own factory, which the base constructor
    // installs, so that this one is asked first.
    QAccessible::installFactory(PlainEditorAccessible);
    // The check before each insertion keeps the document within its limit.
    // The other change notifications reach QScintilla's accessibility code,
    // whose cost grows with the document: only a screen reader needs them.
    Send(SCI_SETMODEVENTMASK, SC_MOD_INSERTCHECK | (fullAccessibility ? SC_MODEVENTMASKALL : 0));
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int modification, const char*, int length) {
                if (modification & SC_MOD_INSERTCHECK)
                    CheckInsertion(length);
            });
}

void EditorWindow::keyPressEvent(QKeyEvent* event) {
    if (RunClipboardKey(*event)) {
        event->accept();
        return;
    }
    if (!KeyFits(*event)) {
        event->accept();
        emit InsertionRefused();
        return;
    }
    QsciScintillaBase::keyPressEvent(event);
}

void EditorWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && QApplication::clipboard()->supportsSelection()) {
        PasteSelectionAt(event->position().toPoint());
        return;
    }
    QsciScintillaBase::mousePressEvent(event);
}
