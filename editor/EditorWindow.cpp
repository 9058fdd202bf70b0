#include "editor/EditorWindow.h"

#include "editor/EditorMessages.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMimeData>

namespace {

// The formats a paste or a drop can insert.
constexpr const char* insertableFormats[] = {
    "text/plain",
};

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
}

bool EditorWindow::CanPaste() const {
    return SendScintilla(SCI_CANPASTE) != 0 && CanInsertFormats(clipboard.Formats());
}

bool EditorWindow::CanInsertFormats(const QStringList& formats) {
    for (const char* format : insertableFormats) {
        if (formats.contains(QLatin1String(format)))
            return true;
    }
    return false;
}

// The paste itself decides by the same formats as CanPaste(), so that the
// state of the Paste item always says what a paste would do.
bool EditorWindow::canInsertFromMimeData(const QMimeData* source) const {
    return CanInsertFormats(source->formats());
}
