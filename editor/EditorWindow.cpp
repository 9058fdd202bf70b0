#include "editor/EditorWindow.h"

#include "editor/EditorAccessible.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

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
    SendScintilla(SCI_SETLAYOUTCACHE, layoutCache);
    SendScintilla(SCI_SETPOSITIONCACHE, positionCacheEntries);
    accessibility->Start();
}

EditorWindow::~EditorWindow() = default;

int EditorWindow::ModificationEventMask() const {
    // The check before each insertion keeps the document within its limit.
    int mask = SC_MOD_INSERTCHECK;
    // A screen reader and the recovery journal hear of every insertion and
    // deletion, from the notifications sent before each change: the text a
    // deletion takes away is still there then, and QScintilla copies the
    // text of each insertion it reports after the fact, which the journal
    // reads from the component itself once the typing has moved on.
    if (recordingChanges || (accessibility && accessibility->FollowsChanges()))
        mask |= SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE;
    return mask;
}

void EditorWindow::SetChangeRecording(bool on) {
    if (on == recordingChanges)
        return;
    recordingChanges = on;
    ApplyModificationEventMask();
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
