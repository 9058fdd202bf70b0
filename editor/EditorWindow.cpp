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
      clipboard([this] { emit PasteChanged(); }), idleStyler(new IdleStyler(this)) {
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
    SendScintilla(SCI_SETLAYOUTCACHE, SC_CACHE_PAGE);
    SendScintilla(SCI_SETPOSITIONCACHE, positionCacheEntries);
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
