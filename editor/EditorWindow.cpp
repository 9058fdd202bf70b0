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
    : QsciScintillaBase(parent), fullAccessibility(QAccessible::isActive()) {
    // Installed after QScintilla's own factory, which the base constructor
    // installs, so that this one is asked first.
    QAccessible::installFactory(PlainEditorAccessible);
}

void EditorWindow::keyPressEvent(QKeyEvent* event) {
    if (RunClipboardKey(*event)) {
        event->accept();
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
