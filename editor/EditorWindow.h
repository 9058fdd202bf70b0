// The editing component's window: QScintilla's widget under a name of our own,
// so that the program chooses how screen readers see it (EditorAccessible.h),
// and so that every way text reaches the clipboard or comes from it keeps its
// bytes.
#pragma once

#include <QClipboard>
#include <Qsci/qsciscintillabase.h>
#include <memory>
#include <string>
#include <utility>

#include "editor/EditorMessages.h"
#include "editor/IdleStyler.h"
#include "platform/ClipboardWatch.h"

class AccessibilityNotifier;
class QMenu;

class EditorWindow : public QsciScintillaBase {
    Q_OBJECT

  public:
    explicit EditorWindow(QWidget* parent = nullptr);
    ~EditorWindow() override;

    // The component's change notifications the program asks for. This is the
    // one place that decides them; ApplyModificationEventMask() sends them
    // again whenever what they depend on changes.
    int ModificationEventMask() const;
    void ApplyModificationEventMask();
    // Whether the recovery journal records every change, from the
    // notifications sent before it is made: where, how much goes and how much
    // comes, at a cost that does not grow with the document.
    void SetChangeRecording(bool on);
    bool RecordsChanges() const { return recordingChanges; }

    // How the component keeps what it has laid out and measured; the test
    // that compares pixels with the packaged component uses the same.
    //
    // Layouts of every line on screen are kept, not only the caret's. With the
    // caret's line alone, laying out the empty line below a long one threw the
    // long one away, and every paint, even after Home or End, measured it all
    // again.
    static constexpr int layoutCache = SC_CACHE_PAGE;
    // Runs of one style are measured once and then found again by their bytes.
    // A change in a line lays all of it out again, and on a page minified to
    // one line that means every run of the file. The component's cache grows
    // with the runs it holds, up to 64 MiB whatever the text; the most entries
    // it takes hold the runs of a one-line page of about 20 MiB.
    static constexpr int positionCacheEntries = 1 << 20;

    // What screen readers are told about the editor.
    AccessibilityNotifier& Accessibility() const { return *accessibility; }

    // Screen readers hear of everything done while one of these lives, such
    // as loading a file, as one text update. Does nothing for a null editor.
    class BulkChange {
      public:
        explicit BulkChange(EditorWindow* editor);
        ~BulkChange();
        BulkChange(const BulkChange&) = delete;
        BulkChange& operator=(const BulkChange&) = delete;

      private:
        EditorWindow* editor;
    };

    // The document's path (bytes), given to screen readers as the editor's
    // description; empty for an untitled document.
    void SetDocumentName(const std::string& path);

    // Whether a paste would insert anything, from what the clipboard offered
    // when it last changed: cheap, and never waits for the clipboard's owner.
    // (QScintilla's own answer to SCI_CANPASTE does not look at the clipboard.)
    bool CanPaste() const;
    // The same for the primary selection, which the middle button pastes.
    bool CanPasteSelection() const;

    // The clipboard commands, byte for byte (editor/EditorWindowClipboard.cpp).
    // Copy puts the selection's exact bytes on the clipboard; Paste puts what
    // the clipboard holds in place of the selection, line ends unconverted.
    // The component's own commands would turn NULs into spaces, invalid UTF-8
    // into U+FFFD and every line end into the end-of-line mode's. Every paste
    // (Ctrl+V, Shift+Insert, the menus, the middle button) asks the clipboard
    // for its data only once its owner has said it holds something to paste:
    // one that does not answer leaves it doing nothing, at once.
    void Cut();
    void Copy();
    void Paste();
    // Copy and cut the whole lines the selection touches.
    void CopyLines();
    void CutLines();
    // Where dropped bytes come from: another window, or this window's own
    // selection, dragged to be copied or moved.
    enum class DropKind { FromElsewhere, CopyOfSelection, MoveOfSelection };
    // Inserts bytes at position as a drop does: plain bytes end up selected,
    // rows of a rectangle go one under the other. A drop of the selection onto
    // itself does nothing; a move removes the selection from where it was.
    // Returns whether the bytes went in: not when the drop would pass the
    // size limit, nor onto the dragged selection itself.
    bool Drop(Position position, const QByteArray& bytes, bool rows, DropKind kind);
    // The menu the right mouse button opens, with the commands above.
    QMenu* CreateContextMenu();

    // The largest document the window holds, in bytes (editor/EditorWindowLimit.cpp).
    // The component's line index holds 32-bit positions: a document that
    // reaches 2 GiB breaks it, and the component crashes or takes a minute a
    // keystroke. Below that, typing and saving cost the same at 1 GiB as at
    // 2047 MiB (bench/LimitBench.cpp), so the limit sits just under 2 GiB,
    // with some room for the component's lookahead past the end. Every
    // insertion that would pass it (typing, pastes, drops, anything the
    // component does) is refused whole and reported by InsertionRefused().
    // Undo and redo only return to texts the document had, so they never
    // pass it either.
    static constexpr Position defaultSizeLimit = (Position(2) << 30) - (Position(64) << 20);
    Position SizeLimit() const { return sizeLimit; }
    // Tests lower the limit to try it without gigabytes of text.
    void SetSizeLimit(Position bytes) { sizeLimit = bytes; }
    // Whether inserted bytes fit in place of removed ones.
    bool Accepts(Position inserted, Position removed = 0) const;

    // Styles the text up to position, and what an edit left right beyond
    // it as soon as styling reaches it (IdleStyler.h).
    void StyleTo(Position position) { idleStyler->StyleTo(position); }

    // While a file is read into the window or written from it, or other work
    // holds the whole text (a search, Replace All: app/TransferDoor.h),
    // nothing but that work changes the text: it is read-only, so that the
    // component refuses every edit, whoever asks (a screen reader among
    // them), and the window swallows every input (keys, input methods, the
    // mouse, drops, its context menu). Nor does it paint or style in idle
    // time: the text that has arrived would be styled and laid out again once
    // the rest is there, and either would stretch the transfer.
    void SetTransferring(bool transferring);
    // The work itself changes the text while this lives (a load appends its
    // blocks, Replace All makes its replacements): the text is writable
    // again, so no event may be handled meanwhile. Does nothing for a null
    // editor.
    class OwnChange {
      public:
        explicit OwnChange(EditorWindow* editor);
        ~OwnChange();
        OwnChange(const OwnChange&) = delete;
        OwnChange& operator=(const OwnChange&) = delete;

      private:
        EditorWindow* editor;
    };
    // The whole text, contiguous, for a save to write while the window is
    // transferring: it neither moves nor changes until the transfer is over.
    const char* TransferredText();

    // Where the selection's caret is on the screen, in global coordinates.
    QRect CaretArea() const;

  signals:
    // What CanPaste() answers may have changed with the clipboard.
    void PasteChanged();
    // An insertion was refused and the document left as it was. Sent from
    // within the component's notifications, so receivers should queue it.
    void InsertionRefused();
    // Files were dropped on the window: their paths, as bytes, in the order
    // given. Sent while the drop is handled, so receivers should queue it.
    void FilesDropped(const QList<QByteArray>& paths);

  protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    QByteArray fromMimeData(const QMimeData* source, bool& rectangular) const override;
    QMimeData* toMimeData(const QByteArray& text, bool rectangular) const override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    Position Send(unsigned int message, Position wParam = 0, Position lParam = 0) const {
        return SendScintilla(message, static_cast<unsigned long>(wParam), lParam);
    }
    bool RunClipboardKey(const QKeyEvent& key);
    QByteArray LineEnd() const;
    QByteArray SelectedBytes() const;
    std::pair<Position, Position> SelectedLines() const;
    void InsertAt(Position position, const QByteArray& bytes);
    void PasteRows(Position position, const QByteArray& rows);
    void ReplaceSelection(const QByteArray& bytes, bool rows);
    bool EndStep();
    void PasteSelectionAt(const QPoint& point);
    void PasteFrom(QClipboard::Mode mode, const QStringList& offered);
    Position SelectionLength() const;
    bool KeyFits(const QKeyEvent& key) const;
    bool TypingFits(Position bytes) const;
    void CheckInsertion(int length);
    void EndRefusal();
    void ApplyReadOnly();
    bool SwallowedWhileTransferring(QEvent& event);

    platform::ClipboardWatch clipboard;
    platform::ClipboardWatch selection; // the primary selection
    Position sizeLimit = defaultSizeLimit;
    bool refusing = false; // the component is read-only until its call returns
    bool recordingChanges = false;
    bool transferring = false;
    int ownChanges = 0; // OwnChange objects alive
    IdleStyler* idleStyler;
    std::unique_ptr<AccessibilityNotifier> accessibility; // last made, first gone
};
