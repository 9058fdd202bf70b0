#include "editor/EditorWindow.h"

#include "editor/EditorMessages.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>

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

bool EditorWindow::CanPaste() const {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return SendScintilla(SCI_CANPASTE) != 0 && data && canInsertFromMimeData(data);
}
