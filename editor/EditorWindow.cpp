#include "editor/EditorWindow.h"

#include "editor/EditorAccessible.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

EditorWindow::EditorWindow(QWidget* parent)
    : QsciScintillaBase(parent), clipboard([this] { emit PasteChanged(); }),
      selection(nullptr, true), idleStyler(new IdleStyler(this)),
      accessibility(std::make_unique<AccessibilityNotifier>(*this)) {
    setAccessibleName(QStringLiteral("Editor"));
    ApplyModificationEventMask();
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int, int modification, const char*, int length) {
                if (modification & SC_MOD_INSERTCHECK)
                    CheckInsertion(length);
            });
    SendScintilla(SCI_SETLAYOUTCACHE, layoutCache);
    // A jump far into a document that is not styled that far, by a key, the
    // scroll bar or a command, shows the text at once and colours it in idle
    // time instead of styling everything before it first. Paints leave it to
    // the idle styler (IdleStyler.h).
    SendScintilla(SCI_SETIDLESTYLING, SC_IDLESTYLING_TOVISIBLE);
    SendScintilla(SCI_SETPOSITIONCACHE, positionCacheEntries);
    accessibility->Start();
}

EditorWindow::~EditorWindow() = default;

int EditorWindow::ModificationEventMask() const {
    // The check before each insertion keeps the document within its limit.
    // The styler keeps account of what each change leaves right, and a
    // screen reader and the recovery journal hear of every insertion and
    // deletion, all from the notifications sent before each change: the text
    // a deletion takes away is still there then, and QScintilla copies the
    // text of each insertion it reports after the fact, which the journal
    // reads from the component itself once the typing has moved on.
    return SC_MOD_INSERTCHECK | SC_MOD_BEFOREINSERT | SC_MOD_BEFOREDELETE;
}

void EditorWindow::SetChangeRecording(bool on) {
    recordingChanges = on;
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
    ApplyReadOnly();
    idleStyler->SetPaused(transfer);
    if (!transfer)
        viewport()->update();
}

EditorWindow::OwnChange::OwnChange(EditorWindow* editor) : editor(editor) {
    if (editor) {
        ++editor->ownChanges;
        editor->ApplyReadOnly();
    }
}

EditorWindow::OwnChange::~OwnChange() {
    if (editor) {
        --editor->ownChanges;
        editor->ApplyReadOnly();
    }
}

const char* EditorWindow::TransferredText() {
    return reinterpret_cast<const char*>(Send(SCI_GETCHARACTERPOINTER));
}

// Read-only while transferring, but for the work's own changes, and while a
// refused insertion's call runs.
void EditorWindow::ApplyReadOnly() {
    Send(SCI_SETREADONLY, (transferring && ownChanges == 0) || refusing);
}

namespace {

// What the person at the desk (or a program acting as one) does to the window.
constexpr QEvent::Type inputEvents[] = {
    QEvent::KeyPress,           QEvent::KeyRelease,
    QEvent::InputMethod,        QEvent::MouseButtonPress,
    QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
    QEvent::MouseMove,          QEvent::Wheel,
    QEvent::ContextMenu,        QEvent::DragEnter,
    QEvent::DragMove,           QEvent::Drop,
    QEvent::TouchBegin,         QEvent::TouchUpdate,
    QEvent::TouchEnd,           QEvent::TabletPress,
    QEvent::TabletMove,         QEvent::TabletRelease,
};

} // namespace

// A drag is turned away, so that its source keeps what it offered; the rest
// is taken and dropped, so that it reaches no other widget either.
bool EditorWindow::SwallowedWhileTransferring(QEvent& event) {
    if (!transferring)
        return false;
    for (QEvent::Type type : inputEvents) {
        if (event.type() == type) {
            const bool drag =
                type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop;
            event.setAccepted(!drag);
            return true;
        }
    }
    return false;
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
    if (transferring)
        return;
    idleStyler->BeforePaint();
    QsciScintillaBase::paintEvent(event);
    idleStyler->AfterPaint();
}
