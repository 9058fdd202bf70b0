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

// Layouts of every line on screen are kept, not only the caret's. With the
// caret's line alone, laying out the empty line below a long one threw the long
// one away, and every paint, even after Home or End, measured it all again.
constexpr int SC_CACHE_PAGE = 2;

// Runs of one style shorter than 30 bytes are measured once and then found
// again by their bytes. A change in a line lays all of it out again, and on a
// page minified to one line that means every tag, attribute and operator of
// the file; the default 1024 entries keep too few of those to help. A full
// cache takes 8 to 17 MiB, by the length of the runs.
constexpr int positionCacheEntries = 100000;

} // namespace

EditorWindow::EditorWindow(QWidget* parent)
    : QsciScintillaBase(parent), fullAccessibility(QAccessible::isActive()),
      idleStyler(new IdleStyler(this)) {
    // Installed after QScintilla's own factory, which the base constructor
    // installs, so that this one is asked first.
    QAccessible::installFactory(PlainEditorAccessible);
    SendScintilla(SCI_SETLAYOUTCACHE, SC_CACHE_PAGE);
    SendScintilla(SCI_SETPOSITIONCACHE, positionCacheEntries);
}

bool EditorWindow::CanPaste() const {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return SendScintilla(SCI_CANPASTE) != 0 && data && canInsertFromMimeData(data);
}

void EditorWindow::SetTransferring(bool transfer) {
    transferring = transfer;
    idleStyler->SetPaused(transfer);
    if (!transfer)
        viewport()->update();
}

// Paints wait, rather than being merely held back by Qt: one already due when
// a load began would still style and lay out the text that had arrived.
void EditorWindow::paintEvent(QPaintEvent* event) {
    if (!transferring)
        QsciScintillaBase::paintEvent(event);
}
