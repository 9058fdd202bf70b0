#include "editor/EditorWindow.h"

#include "editor/EditorAccessible.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

// Runs of one style shorter than 30 bytes are measured once and then found
// again by their bytes. A change in a line lays all of it out again, and on a
// page minified to one line that means every tag, attribute and operator of
// the file; the default 1024 entries keep too few of those to help. A full
// cache takes 8 to 17 MiB, by the length of the runs.
constexpr int positionCacheEntries = 100000;

} // namespace

EditorWindow::EditorWindow(QWidget* parent)
    : QsciScintillaBase(parent), clipboard([this] { emit PasteChanged(); }),
      idleStyler(new IdleStyler(this)),
      accessibility(std::make_unique<AccessibilityNotifier>(*this)) {
    setAccessibleName(QStringLiteral("Editor"));
    ApplyModificationEventMask();
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int modification, const char*, int length) {
                if (modification & SC_MOD_INSERTCHECK)
                    CheckInsertion(length);
            });
    // Layouts of every line on screen are kept, not only the caret's. With the
    // caret's line alone, laying out the empty line below a long one threw the
    // long one away, and every paint, even after Home or End, measured it all
    // again.
    SendScintilla(SCI_SETLAYOUTCACHE, SC_CACHE_PAGE);
    SendScintilla(SCI_SETPOSITIONCACHE, positionCacheEntries);
    accessibility->Start();
}

EditorWindow::~EditorWindow() = default;

int EditorWindow::ModificationEventMask() const {
    // The check before each insertion keeps the document within its limit.
    int mask = SC_MOD_INSERTCHECK;
    // A screen reader hears of every insertion and deletion. It is told from
    // the notifications sent before each change: QScintilla answers those sent
    // after it by counting the characters from the start of the document.
    if (accessibility && accessibility->FollowsChanges())
        mask |= SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE;
    return mask;
}

void EditorWindow::ApplyModificationEventMask() {
    SendScintilla(SCI_SETMODEVENTMASK, static_cast<unsigned long>(ModificationEventMask()));
}

EditorWindow::BulkChange::BulkChange(EditorWindow* editor) : editor(editor) {
    if (editor)
        editor->Accessibility().BeginBulkChange();
}

EditorWindow::BulkChange::~BulkChange() {
    if (editor)
        editor->Accessibility().EndBulkChange();
}

void EditorWindow::SetDocumentName(const std::string& path) {
    setAccessibleDescription(platform::BytesToDisplay(path));
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

EditorWindow::Transfer::Transfer(EditorWindow* editor) : editor(editor) {
    if (editor)
        editor->SetTransferring(true);
}

EditorWindow::Transfer::~Transfer() {
    if (editor)
        editor->SetTransferring(false);
}

QRect EditorWindow::CaretArea() const {
    const Position caret = Send(SCI_GETCURRENTPOS);
    const QPoint point(int(Send(SCI_POINTXFROMPOSITION, 0, caret)),
                       int(Send(SCI_POINTYFROMPOSITION, 0, caret)));
    const int height = int(Send(SCI_TEXTHEIGHT, Send(SCI_LINEFROMPOSITION, caret)));
    return QRect(viewport()->mapToGlobal(point), QSize(2, height));
}

// Paints wait, rather than being merely held back by Qt: one already due when
// a load began would still style and lay out the text that had arrived.
void EditorWindow::paintEvent(QPaintEvent* event) {
    if (!transferring)
        QsciScintillaBase::paintEvent(event);
}
