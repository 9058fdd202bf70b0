// How screen readers read and follow the editor, through Qt's accessibility.
//
// - EditorAccessible answers Qt's text and editable-text queries, in the
//   UTF-16 offsets of DocumentText (DocumentText.h), so that each costs
//   O(log n) plus the length of the piece or lines it touches, whatever the
//   size of the document;
// - AccessibilityNotifier follows the desktop: from the moment Qt's
//   accessibility becomes active, at start-up or later, it keeps the offset
//   index up to date and reports every insertion, removal, caret move and
//   selection change.
#pragma once

#include <QAccessibleWidget>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "editor/DocumentText.h"

class EditorWindow;

class EditorAccessible : public QAccessibleWidget,
                         public QAccessibleTextInterface,
                         public QAccessibleEditableTextInterface {
  public:
    explicit EditorAccessible(EditorWindow* editor);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    using QAccessibleWidget::text;

    // Text.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int* startOffset, int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int* startOffset, int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // Editing goes through the component, so undo works as for typing.
    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString& text) override;
    void replaceText(int startOffset, int endOffset, const QString& text) override;

  private:
    EditorWindow* Editor() const;
    QString Item(int which, int offset, QAccessible::TextBoundaryType boundaryType,
                 int* startOffset, int* endOffset) const;
    void Replace(int startOffset, int endOffset, const QString& text);
};

// One per editor, for its whole life. It costs nothing while no assistive
// technology listens: the component then sends no change notifications and
// no index is kept.
class AccessibilityNotifier : public QObject {
    Q_OBJECT

  public:
    explicit AccessibilityNotifier(EditorWindow& editor);
    ~AccessibilityNotifier() override;

    // Starts following Qt's accessibility; called once the editor is complete.
    void Start();
    // True while the component must report each change before it happens.
    bool FollowsChanges() const { return listening && bulkDepth == 0; }

    // Many changes that screen readers hear of as one text update, such as
    // loading a file: no notification per block, one update when the outermost
    // bulk change ends.
    void BeginBulkChange();
    void EndBulkChange();

    // Reports a change still waiting for its event; queries call it first, so
    // that a client never reads text it has not been told about.
    void FlushChange();
    // The index of UTF-16 offsets for the document as it is now.
    const OffsetIndex& CurrentIndex();
    // Makes sure the caret and the selection are reported soon.
    void SelectionChanged();

    // The component's text as the queries and the index read it, and how
    // many bytes they have read (TextSource).
    const TextSource& Source() const { return source; }

    // For tests: starts or stops following as Qt's activation would.
    void SetListening(bool on);

  private:
    struct Change; // a change reported before it happens, waiting for its event

    void OnModified(int position, int type, int length);
    void OnUpdateUi(int updated);
    void Sync();
    void ReplaceForeignInterface();

    EditorWindow& editor;
    TextSource source;
    bool listening = false;
    int bulkDepth = 0;
    QString bulkOldText;
    std::unique_ptr<Change> pending;
    // Kept up to date change by change while changes are followed; otherwise
    // built again for each query.
    std::unique_ptr<OffsetIndex> index;
    bool indexCurrent = false;
    int lastCaret = -1;
    int lastSelectionStart = -1;
    int lastSelectionEnd = -1;
    QTimer syncTimer;
};
