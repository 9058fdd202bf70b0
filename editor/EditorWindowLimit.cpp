// The document's size limit. Insertions that the window makes itself (pastes,
// drops, typed text, a screen reader's edits) are checked before anything
// changes, so that a paste over a selection does not remove the selection and
// then stop. Everything else the
// component inserts passes its insertion check, where a refused insertion is
// replaced by nothing and the rest of the component's call is held off.
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <vector>

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

// A new line takes the selection's place; typed text is checked as typing
// changes the text.
bool EditorWindow::KeyFits(const QKeyEvent& key) const {
    if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter)
        return Accepts(LineEnd().size(), SelectionLength());
    if (!key.text().isEmpty() && key.text()[0].isPrint())
        return TypingFits(key.text().toUtf8().size());
    return true;
}

// Typed bytes go into the main selection, or into every one where typing
// goes to them all. Each loses what it selects or, typing over the text (the
// Insert key's mode), the character after its caret, unless a line ends
// there; typing over a shorter character than the one typed, or at the end
// of a line, adds to the text.
bool EditorWindow::TypingFits(Position bytes) const {
    std::vector<Selection> ranges = Selections(*this);
    if (!Send(SCI_GETADDITIONALSELECTIONTYPING))
        ranges = {{0, Send(SCI_GETSELECTIONSTART), Send(SCI_GETSELECTIONEND)}};
    const bool overtype = Send(SCI_GETOVERTYPE) != 0;
    Position removed = 0;
    for (const Selection& range : ranges) {
        if (range.start < range.end)
            removed += range.end - range.start;
        else if (overtype && range.start < Send(SCI_GETLINEENDPOSITION,
                                                Send(SCI_LINEFROMPOSITION, range.start)))
            removed += Send(SCI_POSITIONAFTER, range.start) - range.start;
    }
    return Accepts(bytes * Position(ranges.size()), removed);
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
    if (!refusing)
        QMetaObject::invokeMethod(this, &EditorWindow::EndRefusal, Qt::QueuedConnection);
    refusing = true;
    ApplyReadOnly();
    emit InsertionRefused();
}

void EditorWindow::EndRefusal() {
    if (!refusing)
        return;
    refusing = false;
    ApplyReadOnly();
}

// Whatever the component refused during an event, the next one finds the text
// editable again. A deferred delete is the window's last event.
bool EditorWindow::event(QEvent* event) {
    if (event->type() == QEvent::DeferredDelete)
        return QsciScintillaBase::event(event);
    if (SwallowedWhileTransferring(*event))
        return true;
    const bool handled = QsciScintillaBase::event(event);
    EndRefusal();
    return handled;
}

bool EditorWindow::viewportEvent(QEvent* event) {
    if (SwallowedWhileTransferring(*event))
        return true;
    const bool handled = QsciScintillaBase::viewportEvent(event);
    EndRefusal();
    return handled;
}

void EditorWindow::inputMethodEvent(QInputMethodEvent* event) {
    const Position inserted =
        event->commitString().toUtf8().size() + event->preeditString().toUtf8().size();
    if (!TypingFits(inserted)) {
        event->accept();
        emit InsertionRefused();
        return;
    }
    QsciScintillaBase::inputMethodEvent(event);
}
