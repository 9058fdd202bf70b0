// The document's size limit. Insertions that the window makes itself (pastes,
// drops, typed text, a screen reader's edits) are checked before anything
// changes, so that a paste over a selection does not remove the selection and
// then stop. Everything else the
// component inserts passes its insertion check, where a refused insertion is
// replaced by nothing and the rest of the component's call is held off.
#include <QInputMethodEvent>
#include <QKeyEvent>

#include "editor/EditorWindow.h"
#include "editor/Selections.h"

bool EditorWindow::Accepts(Position inserted, Position removed) const {
    return inserted >= 0 && Send(SCI_GETLENGTH) - removed + inserted <= sizeLimit;
}

Position EditorWindow::SelectionLength() const {
    Position length = 0;
    for (const Selection& range : Selections(*this))
        length += range.end - range.start;
    return length;
}

// Typed text and a new line take the selection's place. Typing over the text
// (the Insert key's mode) replaces as much as it adds, and is left to the
// component's check.
bool EditorWindow::KeyFits(const QKeyEvent& key) const {
    if (Send(SCI_GETOVERTYPE))
        return true;
    Position inserted = 0;
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        inserted = LineEnd().size();
    else if (!key.text().isEmpty() && key.text()[0].isPrint())
        inserted = key.text().toUtf8().size();
    return inserted == 0 || Accepts(inserted, SelectionLength());
}

// The insertion becomes nothing. Whatever else the component's current call
// would insert or remove is refused too, by keeping the text read-only until
// the call returns, so that a refused step leaves no partial change behind.
// Read-only at this point also keeps the refused insertion out of the undo
// history.
void EditorWindow::CheckInsertion(int length) {
    if (Accepts(length))
        return;
    SendScintilla(SCI_CHANGEINSERTION, static_cast<uintptr_t>(0), "");
    Send(SCI_SETREADONLY, 1);
    if (!refusing)
        QMetaObject::invokeMethod(this, &EditorWindow::EndRefusal, Qt::QueuedConnection);
    refusing = true;
    emit InsertionRefused();
}

void EditorWindow::EndRefusal() {
    if (!refusing)
        return;
    refusing = false;
    Send(SCI_SETREADONLY, 0);
}

// Whatever the component refused during an event, the next one finds the text
// editable again. A deferred delete is the window's last event.
bool EditorWindow::event(QEvent* event) {
    if (event->type() == QEvent::DeferredDelete)
        return QsciScintillaBase::event(event);
    const bool handled = QsciScintillaBase::event(event);
    EndRefusal();
    return handled;
}

bool EditorWindow::viewportEvent(QEvent* event) {
    const bool handled = QsciScintillaBase::viewportEvent(event);
    EndRefusal();
    return handled;
}

void EditorWindow::inputMethodEvent(QInputMethodEvent* event) {
    const Position inserted =
        event->commitString().toUtf8().size() + event->preeditString().toUtf8().size();
    if (!Accepts(inserted, SelectionLength())) {
        event->accept();
        emit InsertionRefused();
        return;
    }
    QsciScintillaBase::inputMethodEvent(event);
}
