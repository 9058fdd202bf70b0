// The editor window's clipboard commands, drops and context menu, byte for
// byte. QScintilla's own versions convert pasted and dropped line ends to the
// end-of-line mode, and its copies turn NULs into spaces and invalid UTF-8
// into U+FFFD; every way in and out of the window goes through here instead.
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <vector>

#include "editor/ClipboardBytes.h"
#include "editor/DocumentBytes.h"
#include "editor/EditorWindow.h"
#include "editor/Selections.h"

namespace {

enum class ClipboardCommand { None, Cut, Copy, Paste, CutLines, CopyLines };

struct ClipboardKey {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    ClipboardCommand command;
};

// The component's own key bindings for the clipboard. Ctrl+X, Ctrl+C and
// Ctrl+V normally reach the frame's menu first.
const ClipboardKey clipboardKeys[] = {
    {Qt::Key_X, Qt::ControlModifier, ClipboardCommand::Cut},
    {Qt::Key_Delete, Qt::ShiftModifier, ClipboardCommand::Cut},
    {Qt::Key_C, Qt::ControlModifier, ClipboardCommand::Copy},
    {Qt::Key_Insert, Qt::ControlModifier, ClipboardCommand::Copy},
    {Qt::Key_V, Qt::ControlModifier, ClipboardCommand::Paste},
    {Qt::Key_Insert, Qt::ShiftModifier, ClipboardCommand::Paste},
    {Qt::Key_L, Qt::ControlModifier, ClipboardCommand::CutLines},
    {Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier, ClipboardCommand::CopyLines},
};

ClipboardCommand CommandFor(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    for (const ClipboardKey& entry : clipboardKeys) {
        if (key.key() == entry.key && modifiers == entry.modifiers)
            return entry.command;
    }
    return ClipboardCommand::None;
}

// The component hands its hooks a copy of the selection in which every NUL
// has become a space; this tells whether text is that copy of bytes.
bool SameButForNuls(const QByteArray& bytes, const QByteArray& text) {
    if (bytes.size() != text.size())
        return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != text[i] && !(bytes[i] == '\0' && text[i] == ' '))
            return false;
    }
    return true;
}

// Rows separated by CRLF, CR or LF; line ends after the last row make no rows.
QList<QByteArray> SplitRows(const QByteArray& rows) {
    qsizetype end = rows.size();
    while (end > 0 && (rows[end - 1] == '\r' || rows[end - 1] == '\n'))
        --end;
    QList<QByteArray> list;
    qsizetype start = 0;
    for (qsizetype i = 0; i < end; ++i) {
        if (rows[i] != '\r' && rows[i] != '\n')
            continue;
        list.append(rows.mid(start, i - start));
        if (rows[i] == '\r' && i + 1 < end && rows[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    list.append(rows.mid(start, end - start));
    return list;
}

// The paths of the local files among dropped URLs, as bytes: the URL's own
// percent-encoding is undone byte for byte, so that a name that is not UTF-8
// comes through unchanged.
QList<QByteArray> DroppedFiles(const QMimeData* data) {
    QList<QByteArray> paths;
    if (!data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        const QString host = url.host();
        if (url.scheme() != "file" || !(host.isEmpty() || host == "localhost"))
            continue;
        const QByteArray path =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

} // namespace

// From what the clipboard offered when it last changed, so that a menu refresh
// never waits for the clipboard's owner. The paste itself decides by the same
// formats, so the state of the Paste item always says what a paste would do.
bool EditorWindow::CanPaste() const {
    return Send(SCI_CANPASTE) != 0 && IsPasteableFormats(clipboard.Formats());
}

bool EditorWindow::CanPasteSelection() const {
    return Send(SCI_CANPASTE) != 0 && IsPasteableFormats(selection.Formats());
}

QByteArray EditorWindow::LineEnd() const {
    switch (Send(SCI_GETEOLMODE)) {
    case SC_EOL_CRLF:
        return "\r\n";
    case SC_EOL_CR:
        return "\r";
    default:
        return "\n";
    }
}

// As the component copies a selection: the ranges one after the other, each
// row of a rectangle followed by a line end.
QByteArray EditorWindow::SelectedBytes() const {
    const bool rectangle = Send(SCI_SELECTIONISRECTANGLE) != 0;
    if (Send(SCI_GETSELECTIONS) == 1 && !rectangle)
        return BytesBetween(*this, Send(SCI_GETSELECTIONSTART), Send(SCI_GETSELECTIONEND));
    std::vector<Selection> ranges = Selections(*this);
    if (rectangle) // its rows top to bottom, however it was drawn
        std::sort(ranges.begin(), ranges.end(),
                  [](const Selection& a, const Selection& b) { return a.start < b.start; });
    QByteArray bytes;
    for (const Selection& range : ranges) {
        bytes += BytesBetween(*this, range.start, range.end);
        if (rectangle)
            bytes += LineEnd();
    }
    return bytes;
}

std::pair<Position, Position> EditorWindow::SelectedLines() const {
    const Position first = Send(SCI_LINEFROMPOSITION, Send(SCI_GETSELECTIONSTART));
    const Position last = Send(SCI_LINEFROMPOSITION, Send(SCI_GETSELECTIONEND));
    return {Send(SCI_POSITIONFROMLINE, first), Send(SCI_POSITIONFROMLINE, last + 1)};
}

void EditorWindow::Copy() {
    if (Send(SCI_GETSELECTIONEMPTY))
        return;
    const bool rectangle = Send(SCI_SELECTIONISRECTANGLE) != 0;
    QApplication::clipboard()->setMimeData(MimeDataForBytes(SelectedBytes(), rectangle));
}

void EditorWindow::Cut() {
    if (Send(SCI_GETSELECTIONEMPTY))
        return;
    Copy();
    SendScintilla(SCI_REPLACESEL, "");
}

void EditorWindow::CopyLines() {
    const auto [start, end] = SelectedLines();
    QApplication::clipboard()->setMimeData(
        MimeDataForBytes(BytesBetween(*this, start, end), false));
}

void EditorWindow::CutLines() {
    const auto [start, end] = SelectedLines();
    Send(SCI_SETSEL, start, end);
    Cut();
}

void EditorWindow::InsertAt(Position position, const QByteArray& bytes) {
    Send(SCI_SETTARGETRANGE, position, position);
    SendScintilla(SCI_REPLACETARGET, static_cast<uintptr_t>(bytes.size()), bytes.constData());
}

// As the component lays out a rectangle: each row on the next line at the
// same distance from the margin, lines added past the end of the text and
// short lines padded with spaces. The rows' own bytes go in unchanged.
void EditorWindow::PasteRows(Position position, const QByteArray& rows) {
    const Position x = Send(SCI_POINTXFROMPOSITION, 0, position);
    Position line = Send(SCI_LINEFROMPOSITION, position);
    const QList<QByteArray> list = SplitRows(rows);
    for (qsizetype r = 0; r < list.size(); ++r) {
        if (r > 0) {
            if (++line >= Send(SCI_GETLINECOUNT))
                InsertAt(Send(SCI_GETLENGTH), LineEnd());
            const Position lineStart = Send(SCI_POSITIONFROMLINE, line);
            position = Send(SCI_POSITIONFROMPOINT, x, Send(SCI_POINTYFROMPOSITION, 0, lineStart));
            for (Position reached = Send(SCI_POINTXFROMPOSITION, 0, position);
                 reached < x && !list[r].isEmpty();) {
                InsertAt(position++, " ");
                const Position before = reached;
                reached = Send(SCI_POINTXFROMPOSITION, 0, position);
                if (reached <= before)
                    break;
            }
        }
        InsertAt(position, list[r]);
    }
}

// Ends an undo step of several insertions. Rows may need more room than their
// bytes (new lines, padding); if the limit stopped them part-way, the whole
// step is taken back. Returns whether the step stands.
bool EditorWindow::EndStep() {
    Send(SCI_ENDUNDOACTION);
    if (!refusing)
        return true;
    EndRefusal();
    Send(SCI_UNDO);
    return false;
}

// The selection, every range of it, gives way to the bytes in one undo step.
// The caret ends up after plain bytes, and where rows begin.
void EditorWindow::ReplaceSelection(const QByteArray& bytes, bool rows) {
    if (!Accepts(bytes.size(), SelectionLength())) {
        emit InsertionRefused();
        return;
    }
    Send(SCI_BEGINUNDOACTION);
    SendScintilla(SCI_REPLACESEL, "");
    const Position caret = Send(SCI_GETCURRENTPOS);
    if (rows)
        PasteRows(caret, bytes);
    else
        InsertAt(caret, bytes);
    Send(SCI_GOTOPOS, rows ? caret : caret + bytes.size());
    EndStep();
}

void EditorWindow::Paste() {
    if (CanPaste())
        PasteFrom(QClipboard::Clipboard, clipboard.Formats());
}

// The middle button pastes the primary selection where it is pressed.
void EditorWindow::PasteSelectionAt(const QPoint& point) {
    Send(SCI_SETEMPTYSELECTION, Send(SCI_POSITIONFROMPOINT, point.x(), point.y()));
    if (CanPasteSelection())
        PasteFrom(QClipboard::Selection, selection.Formats());
}

// What the owner offered is what it was asked for, so the data is the only
// question it gets.
void EditorWindow::PasteFrom(QClipboard::Mode mode, const QStringList& offered) {
    if (const QMimeData* data = QApplication::clipboard()->mimeData(mode))
        ReplaceSelection(PastedBytes(data, offered), IsRectangularFormats(offered));
}

// As the component drops. Onto the selection being dragged nothing happens,
// but a copy may land on its edges; a move takes the selection out first, so
// the place it lands moves up by what went before it.
bool EditorWindow::Drop(Position position, const QByteArray& bytes, bool rows, DropKind kind) {
    if (kind != DropKind::FromElsewhere) {
        const Position first = Send(SCI_GETSELECTIONSTART), last = Send(SCI_GETSELECTIONEND);
        const bool onEdge = position == first || position == last;
        for (const Selection& range : Selections(*this)) {
            if (position >= range.start && position <= range.end &&
                !(onEdge && kind == DropKind::CopyOfSelection)) {
                Send(SCI_SETEMPTYSELECTION, position);
                return false;
            }
        }
    }
    const bool moving = kind == DropKind::MoveOfSelection;
    if (!Accepts(bytes.size(), moving ? SelectionLength() : 0)) {
        emit InsertionRefused();
        return false;
    }
    Send(SCI_BEGINUNDOACTION);
    if (moving) {
        Position shift = 0;
        for (const Selection& range : Selections(*this))
            if (position > range.end)
                shift += range.end - range.start;
        SendScintilla(SCI_REPLACESEL, "");
        position -= shift;
    }
    if (rows) {
        PasteRows(position, bytes);
        Send(SCI_SETEMPTYSELECTION, position);
    } else {
        InsertAt(position, bytes);
        Send(SCI_SETSEL, position, position + bytes.size());
    }
    return EndStep();
}

QMenu* EditorWindow::CreateContextMenu() {
    auto* menu = new QMenu(this);
    const bool selection = !Send(SCI_GETSELECTIONEMPTY);
    auto add = [&](const char* label, bool enabled, auto command) {
        menu->addAction(QString::fromLatin1(label), this, command)->setEnabled(enabled);
    };
    add("Undo", Send(SCI_CANUNDO) != 0, [this] { Send(SCI_UNDO); });
    add("Redo", Send(SCI_CANREDO) != 0, [this] { Send(SCI_REDO); });
    menu->addSeparator();
    add("Cut", selection, [this] { Cut(); });
    add("Copy", selection, [this] { Copy(); });
    add("Paste", CanPaste(), [this] { Paste(); });
    add("Delete", selection, [this] { Send(SCI_CLEAR); });
    menu->addSeparator();
    add("Select All", true, [this] { Send(SCI_SELECTALL); });
    return menu;
}

bool EditorWindow::RunClipboardKey(const QKeyEvent& key) {
    switch (CommandFor(key)) {
    case ClipboardCommand::Cut:
        Cut();
        return true;
    case ClipboardCommand::Copy:
        Copy();
        return true;
    case ClipboardCommand::Paste:
        Paste();
        return true;
    case ClipboardCommand::CutLines:
        CutLines();
        return true;
    case ClipboardCommand::CopyLines:
        CopyLines();
        return true;
    case ClipboardCommand::None:
        break;
    }
    return false;
}

bool EditorWindow::canInsertFromMimeData(const QMimeData* source) const {
    return IsPasteable(source) || !DroppedFiles(source).isEmpty();
}

QByteArray EditorWindow::fromMimeData(const QMimeData* source, bool& rectangular) const {
    rectangular = IsRectangular(source);
    return PastedBytes(source);
}

// The component asks for clipboard data for its primary selection and its
// drags, handing over its copy of the selection with NULs made spaces; the
// selection's own bytes go instead.
QMimeData* EditorWindow::toMimeData(const QByteArray& text, bool rectangular) const {
    const QByteArray bytes = SelectedBytes();
    return MimeDataForBytes(SameButForNuls(bytes, text) ? bytes : text, rectangular);
}

void EditorWindow::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(CreateContextMenu());
    menu->exec(event->globalPos());
}

// Files dropped from a file manager are opened, not inserted; they are only
// ever copied, so that the file manager never removes what it dragged.
//
// Text is accepted only once its bytes are in: a drop refused (at the size
// limit) is turned away, so that a program that offered to move its text
// keeps it. The formats are those the drag announced, which Qt has without
// asking the source again. (While a file moves the window takes no drop at
// all: SwallowedWhileTransferring.)
void EditorWindow::dropEvent(QDropEvent* event) {
    const QMimeData* data = event->mimeData();
    const QList<QByteArray> files = DroppedFiles(data);
    if (!files.isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        QDragLeaveEvent leave;
        QsciScintillaBase::dragLeaveEvent(&leave);
        emit FilesDropped(files);
        return;
    }
    if (data->hasUrls()) {
        QsciScintillaBase::dropEvent(event);
        return;
    }
    const QStringList offered = data->formats();
    DropKind kind = DropKind::FromElsewhere;
    if (event->source() == this)
        kind = event->dropAction() == Qt::MoveAction ? DropKind::MoveOfSelection
                                                     : DropKind::CopyOfSelection;
    const QPoint point = event->position().toPoint();
    if (IsPasteableFormats(offered) &&
        Drop(Send(SCI_POSITIONFROMPOINT, point.x(), point.y()), PastedBytes(data, offered),
             IsRectangularFormats(offered), kind))
        event->acceptProposedAction();
    else
        event->ignore();
    // Hide the caret that showed where the drop would land.
    QDragLeaveEvent leave;
    QsciScintillaBase::dragLeaveEvent(&leave);
}
