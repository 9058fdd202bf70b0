#include "editor/EditorAccessible.h"

#include <QAccessible>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <utility>
#include <vector>

#include "editor/DocumentText.h"
#include "editor/EditorWindow.h"
#include "editor/Selections.h"

namespace {

// An event carries at most this many UTF-16 units of inserted or removed
// text, so that loading or clearing 100 MiB does not push 100 MiB through
// D-Bus; its offset stays exact.
constexpr int eventTextLimit = 65536;
// A change of more bytes than this is reported from its own text alone,
// without comparing its neighbourhood before and after.
constexpr long largeChange = 65536;
// How far a word or sentence is looked for, in lines on each side.
constexpr long itemLinesAround = 64;

// Text items (characters, words, sentences) follow Qt's own rules, those of
// QAccessibleTextInterface's default implementation, applied to a few lines
// around the offset instead of to the whole text.
class ItemFinder {
  public:
    ItemFinder(QTextBoundaryFinder::BoundaryType type, const QString& text)
        : finder(type, text), size(int(text.size())) {}

    void MoveTo(int position) { finder.setPosition(position); }
    // The nearest item edge before the position, or at it when inclusive;
    // the start of the text when there is none.
    int Back(bool inclusive) {
        if (inclusive && AtEdge())
            return finder.position();
        for (;;) {
            const int at = int(finder.toPreviousBoundary());
            if (at <= 0) {
                finder.setPosition(0);
                return 0;
            }
            if (AtEdge())
                return at;
        }
    }
    // The nearest item edge after the position; the end when there is none.
    int Forward() {
        for (;;) {
            const int at = int(finder.toNextBoundary());
            if (at < 0 || at >= size) {
                finder.setPosition(size);
                return size;
            }
            if (AtEdge())
                return at;
        }
    }

  private:
    bool AtEdge() const {
        return finder.boundaryReasons() &
               (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
    }

    QTextBoundaryFinder finder;
    int size;
};

QTextBoundaryFinder::BoundaryType FinderType(QAccessible::TextBoundaryType type) {
    switch (type) {
    case QAccessible::WordBoundary:
        return QTextBoundaryFinder::Word;
    case QAccessible::SentenceBoundary:
        return QTextBoundaryFinder::Sentence;
    default:
        return QTextBoundaryFinder::Grapheme;
    }
}

void Report(QObject* editor, int offset, const QString& removed, const QString& inserted) {
    const QString gone = Limited(removed, eventTextLimit);
    const QString added = Limited(inserted, eventTextLimit);
    if (!gone.isEmpty() && !added.isEmpty()) {
        QAccessibleTextUpdateEvent event(editor, offset, gone, added);
        QAccessible::updateAccessibility(&event);
    } else if (!gone.isEmpty()) {
        QAccessibleTextRemoveEvent event(editor, offset, gone);
        QAccessible::updateAccessibility(&event);
    } else if (!added.isEmpty()) {
        QAccessibleTextInsertEvent event(editor, offset, added);
        QAccessible::updateAccessibility(&event);
    }
}

std::vector<AccessibilityNotifier*>& Notifiers() {
    static std::vector<AccessibilityNotifier*> notifiers;
    return notifiers;
}

// Qt turns accessibility on when the desktop asks for it, which can be long
// after start-up (an answer over D-Bus) or never; every editor follows.
class ActivationFollower : public QAccessible::ActivationObserver {
  public:
    void accessibilityActiveChanged(bool active) override {
        const std::vector<AccessibilityNotifier*> notifiers = Notifiers();
        for (AccessibilityNotifier* notifier : notifiers)
            notifier->SetListening(active);
    }
};

ActivationFollower activationFollower;

QAccessibleInterface* EditorAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("EditorWindow") && object && object->isWidgetType())
        return new EditorAccessible(static_cast<EditorWindow*>(object));
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------

EditorAccessible::EditorAccessible(EditorWindow* editor)
    : QAccessibleWidget(editor, QAccessible::EditableText) {}

EditorWindow* EditorAccessible::Editor() const {
    return static_cast<EditorWindow*>(widget());
}

namespace {

// The document as a query must see it: every change already reported, and
// the index up to date.
DocumentText QueryText(EditorWindow* editor) {
    return DocumentText(editor->Accessibility().Source(), editor->Accessibility().CurrentIndex());
}

// The text is read-only while a file is read into the editor or written from
// it, among other times (EditorWindow::SetTransferring).
bool AcceptsEdits(EditorWindow* editor) {
    return editor->SendScintilla(SCI_GETREADONLY) == 0;
}

} // namespace

void* EditorAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State EditorAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    const bool readOnly = !AcceptsEdits(Editor());
    state.multiLine = true;
    state.selectableText = true;
    state.readOnly = readOnly;
    state.editable = !readOnly;
    return state;
}

void EditorAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const DocumentText document = QueryText(Editor());
    const std::vector<Selection> selections = SelectionsWithText(*Editor());
    *startOffset = *endOffset = 0;
    if (selectionIndex < 0 || selectionIndex >= int(selections.size()))
        return;
    *startOffset = document.OffsetOf(selections[size_t(selectionIndex)].start);
    *endOffset = document.OffsetOf(selections[size_t(selectionIndex)].end);
}

int EditorAccessible::selectionCount() const {
    return int(SelectionsWithText(*Editor()).size());
}

void EditorAccessible::addSelection(int startOffset, int endOffset) {
    if (SelectionsWithText(*Editor()).empty()) {
        setSelection(0, startOffset, endOffset);
        return;
    }
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(SCI_ADDSELECTION,
                            static_cast<unsigned long>(document.PositionOf(endOffset)),
                            document.PositionOf(startOffset));
    Editor()->Accessibility().SelectionChanged();
}

void EditorAccessible::removeSelection(int selectionIndex) {
    const std::vector<Selection> selections = SelectionsWithText(*Editor());
    if (selectionIndex < 0 || selectionIndex >= int(selections.size()))
        return;
    if (Editor()->SendScintilla(SCI_GETSELECTIONS) == 1) {
        const long caret = Editor()->SendScintilla(SCI_GETCURRENTPOS);
        Editor()->SendScintilla(SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
    } else {
        Editor()->SendScintilla(SCI_DROPSELECTIONN, static_cast<unsigned long>(
                                                        selections[size_t(selectionIndex)].index));
        Editor()->Accessibility().SelectionChanged();
    }
}

void EditorAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    const DocumentText document = QueryText(Editor());
    const long anchor = document.PositionOf(startOffset);
    const long caret = document.PositionOf(endOffset);
    const std::vector<Selection> selections = SelectionsWithText(*Editor());
    if (selectionIndex <= 0 || selectionIndex >= int(selections.size())) {
        if (selectionIndex > 0)
            addSelection(startOffset, endOffset);
        else
            Editor()->SendScintilla(SCI_SETSEL, static_cast<unsigned long>(anchor), caret);
        return;
    }
    const auto index = static_cast<unsigned long>(selections[size_t(selectionIndex)].index);
    Editor()->SendScintilla(SCI_SETSELECTIONNANCHOR, index, anchor);
    Editor()->SendScintilla(SCI_SETSELECTIONNCARET, index, caret);
    Editor()->Accessibility().SelectionChanged();
}

int EditorAccessible::cursorPosition() const {
    const DocumentText document = QueryText(Editor());
    return document.OffsetOf(Editor()->SendScintilla(SCI_GETCURRENTPOS));
}

void EditorAccessible::setCursorPosition(int position) {
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(SCI_GOTOPOS, static_cast<unsigned long>(document.PositionOf(position)));
}

QString EditorAccessible::text(int startOffset, int endOffset) const {
    return QueryText(Editor()).Text(startOffset, endOffset);
}

QString EditorAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int* startOffset, int* endOffset) const {
    return Item(-1, offset, boundaryType, startOffset, endOffset);
}

QString EditorAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                          int* startOffset, int* endOffset) const {
    return Item(1, offset, boundaryType, startOffset, endOffset);
}

QString EditorAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                       int* startOffset, int* endOffset) const {
    return Item(0, offset, boundaryType, startOffset, endOffset);
}

// The item before (which -1), at (0) or after (1) the offset. Lines are the
// component's, each with its line end; the other items are looked for in the
// offset's line and the lines next to it.
QString EditorAccessible::Item(int which, int offset, QAccessible::TextBoundaryType boundaryType,
                               int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = -1;
    const DocumentText document = QueryText(Editor());
    const int count = document.Count();
    if (offset == -2)
        offset = cursorPosition();
    if (offset == -1)
        offset = count;
    if (count == 0 || offset < 0 || offset > count || (which < 0 && offset == 0) ||
        (which > 0 && offset == count) ||
        (which == 0 && offset == count && boundaryType == QAccessible::CharBoundary))
        return QString();

    const long line = document.LineOfOffset(offset);
    switch (boundaryType) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: {
        const long wanted = line + which;
        if (wanted < 0 || wanted >= document.Lines())
            return QString();
        *startOffset = document.OffsetOfLine(wanted);
        *endOffset = document.OffsetOfLine(wanted + 1);
        return document.Text(*startOffset, *endOffset);
    }
    case QAccessible::NoBoundary:
        if (which != 0)
            return QString();
        *startOffset = 0;
        *endOffset = count;
        return document.Text(0, count);
    default:
        break;
    }

    // The item can reach into the lines next to this one, and across lines
    // without any letter or digit (blank ones, say), so those are taken in
    // too, within bounds.
    auto hasWords = [&](long at) {
        const QString text =
            document.Text(document.OffsetOfLine(at), document.OffsetOfLine(at + 1));
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
    };
    long first = std::max(0L, line - 1);
    while (first > 0 && line - first < itemLinesAround && !hasWords(first))
        --first;
    long last = std::min(document.Lines() - 1, line + 1);
    while (last < document.Lines() - 1 && last - line < itemLinesAround && !hasWords(last))
        ++last;
    const int base = document.OffsetOfLine(first);
    const QString window = document.Text(base, document.OffsetOfLine(last + 1));
    ItemFinder finder(FinderType(boundaryType), window);
    finder.MoveTo(offset - base);
    int start, end;
    if (which < 0) {
        end = finder.Back(true);
        start = finder.Back(false);
    } else if (which > 0) {
        start = finder.Forward();
        end = finder.Forward();
    } else {
        start = finder.Back(true);
        end = finder.Forward();
    }
    if (which != 0 && start == end)
        return QString();
    *startOffset = base + start;
    *endOffset = base + end;
    return window.mid(start, end - start);
}

int EditorAccessible::characterCount() const {
    return QueryText(Editor()).Count();
}

QRect EditorAccessible::characterRect(int offset) const {
    const DocumentText document = QueryText(Editor());
    if (offset < 0 || offset > document.Count())
        return QRect();
    EditorWindow* editor = Editor();
    const long position = document.PositionOf(offset);
    auto point = [&](unsigned int message, long at) {
        return int(editor->SendScintilla(message, 0UL, at));
    };
    const int x = point(SCI_POINTXFROMPOSITION, position);
    const int y = point(SCI_POINTYFROMPOSITION, position);
    const long next =
        editor->SendScintilla(SCI_POSITIONAFTER, static_cast<unsigned long>(position));
    int width = 0;
    if (next > position && point(SCI_POINTYFROMPOSITION, next) == y)
        width = point(SCI_POINTXFROMPOSITION, next) - x;
    if (width <= 0)
        width = int(editor->SendScintilla(SCI_TEXTWIDTH, STYLE_DEFAULT, " "));
    const long line =
        editor->SendScintilla(SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    const int height = int(editor->SendScintilla(SCI_TEXTHEIGHT, static_cast<unsigned long>(line)));
    return QRect(editor->viewport()->mapToGlobal(QPoint(x, y)), QSize(std::max(width, 1), height));
}

int EditorAccessible::offsetAtPoint(const QPoint& point) const {
    const DocumentText document = QueryText(Editor());
    const QPoint local = Editor()->viewport()->mapFromGlobal(point);
    const long position = Editor()->SendScintilla(SCI_POSITIONFROMPOINTCLOSE,
                                                  static_cast<unsigned long>(local.x()), local.y());
    return position < 0 ? -1 : document.OffsetOf(position);
}

void EditorAccessible::scrollToSubstring(int startIndex, int endIndex) {
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(SCI_SCROLLRANGE,
                            static_cast<unsigned long>(document.PositionOf(endIndex)),
                            document.PositionOf(startIndex));
}

// The editor offers no text attributes: one run without any covers it all.
QString EditorAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    const int count = characterCount();
    if (offset < 0 || offset > count) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    *startOffset = 0;
    *endOffset = count;
    return QString();
}

void EditorAccessible::deleteText(int startOffset, int endOffset) {
    Replace(startOffset, endOffset, QString());
}

void EditorAccessible::insertText(int offset, const QString& text) {
    Replace(offset, offset, text);
}

void EditorAccessible::replaceText(int startOffset, int endOffset, const QString& text) {
    Replace(startOffset, endOffset, text);
}

void EditorAccessible::Replace(int startOffset, int endOffset, const QString& text) {
    EditorWindow* editor = Editor();
    if (!AcceptsEdits(editor))
        return;
    const DocumentText document = QueryText(editor);
    const long start = document.PositionOf(startOffset);
    const long end = std::max(start, document.PositionOf(endOffset));
    const QByteArray bytes = text.toUtf8();
    // The component checks the size limit only when it inserts, after the
    // replaced text has gone: a replacement that does not fit must be refused
    // before anything changes.
    if (!editor->Accepts(bytes.size(), end - start)) {
        emit editor->InsertionRefused();
        return;
    }
    editor->SendScintilla(SCI_BEGINUNDOACTION);
    editor->SendScintilla(SCI_SETTARGETRANGE, static_cast<unsigned long>(start), end);
    editor->SendScintilla(SCI_REPLACETARGET, static_cast<uintptr_t>(bytes.size()),
                          bytes.constData());
    editor->SendScintilla(SCI_ENDUNDOACTION);
}

// ---------------------------------------------------------------------------

// A change the component announced before making it. Its neighbourhood, a
// few bytes on each side, is read before and after, because bytes that are
// not UTF-8 can join with or part from their neighbours: the event then says
// exactly which characters went and came.
struct AccessibilityNotifier::Change {
    long position = 0; // the change itself
    long removed = 0;
    long inserted = 0;
    bool large = false;      // reported from its own text, without neighbours
    int offset = 0;          // of start
    long start = 0;          // bytes, before and after the change
    long endAfter = 0;       // where the neighbourhood ends after the change
    QString before;          // the neighbourhood's text before the change
    int unchangedBefore = 0; // units at its start that the change cannot touch
    int unchangedAfter = 0;  // units at its end that the change cannot touch
};

AccessibilityNotifier::AccessibilityNotifier(EditorWindow& editor)
    : editor(editor), source(editor), index(std::make_unique<OffsetIndex>()) {
    QAccessible::installFactory(EditorAccessibleFactory);
    QAccessible::installActivationObserver(&activationFollower);
    Notifiers().push_back(this);
    syncTimer.setSingleShot(true);
    syncTimer.setInterval(0);
    connect(&syncTimer, &QTimer::timeout, this, &AccessibilityNotifier::Sync);
    connect(&editor, &QsciScintillaBase::SCN_MODIFIED, this,
            [this](int position, int type, const char*, int length) {
                OnModified(position, type, length);
            });
    connect(&editor, &QsciScintillaBase::SCN_UPDATEUI, this, &AccessibilityNotifier::OnUpdateUi);
}

AccessibilityNotifier::~AccessibilityNotifier() {
    auto& notifiers = Notifiers();
    notifiers.erase(std::remove(notifiers.begin(), notifiers.end(), this), notifiers.end());
}

void AccessibilityNotifier::Start() {
    SetListening(QAccessible::isActive());
}

void AccessibilityNotifier::SetListening(bool on) {
    if (on == listening)
        return;
    listening = on;
    pending.reset();
    indexCurrent = false;
    index->Clear();
    if (on) {
        ReplaceForeignInterface();
        const DocumentText document(source, CurrentIndex());
        lastCaret = document.OffsetOf(editor.SendScintilla(SCI_GETCURRENTPOS));
        lastSelectionStart = lastSelectionEnd = -1;
    } else {
        syncTimer.stop();
    }
    editor.ApplyModificationEventMask();
}

const OffsetIndex& AccessibilityNotifier::CurrentIndex() {
    FlushChange();
    // A length that does not match would mean a change that was never
    // announced; counting again is the safe answer.
    if (!indexCurrent || index->Bytes() != editor.SendScintilla(SCI_GETLENGTH)) {
        index->Build(source);
        indexCurrent = FollowsChanges();
    }
    return *index;
}

// Qt may have made and kept an interface for the editor before ours was
// there to be asked; screen readers must get ours.
void AccessibilityNotifier::ReplaceForeignInterface() {
    QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(&editor);
    if (!cached || dynamic_cast<EditorAccessible*>(cached))
        return;
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
    QAccessibleEvent created(&editor, QAccessible::ObjectCreated);
    QAccessible::updateAccessibility(&created);
}

void AccessibilityNotifier::OnModified(int position, int type, int length) {
    const bool insertion = (type & SC_MOD_BEFOREINSERT) != 0;
    if (!(insertion || (type & SC_MOD_BEFOREDELETE)) || !FollowsChanges())
        return;
    const DocumentText document(source, CurrentIndex());
    auto change = std::make_unique<Change>();
    change->position = position;
    change->removed = insertion ? 0 : length;
    change->inserted = insertion ? length : 0;
    if (length > largeChange) {
        change->large = true;
        change->start = position;
        change->endAfter = position + change->inserted;
        change->offset = document.OffsetOf(position);
        if (!insertion)
            change->before = document.Decode(position, position + length, eventTextLimit);
    } else {
        const long changeEnd = position + change->removed;
        const long start = document.BoundaryAtOrBefore(position - 3);
        const long end = document.BoundaryAtOrAfter(changeEnd + 3);
        change->start = start;
        change->offset = document.OffsetOf(start);
        change->endAfter = end - change->removed + change->inserted;
        change->before = document.Decode(start, end, position, changeEnd, change->unchangedBefore,
                                         change->unchangedAfter);
    }
    pending = std::move(change);
    syncTimer.start();
}

void AccessibilityNotifier::FlushChange() {
    if (!pending)
        return;
    const std::unique_ptr<Change> change = std::move(pending);
    if (indexCurrent)
        index->Update(source, change->position, change->removed, change->inserted);
    const DocumentText document(source, *index);
    if (change->large) {
        if (change->inserted > 0)
            Report(&editor, change->offset, QString(),
                   document.Decode(change->start, change->endAfter, eventTextLimit));
        else
            Report(&editor, change->offset, change->before, QString());
        return;
    }
    const QString& before = change->before;
    const QString after = document.Decode(change->start, change->endAfter);
    const int shortest = int(std::min(before.size(), after.size()));
    int same = 0;
    while (same < std::min(shortest, change->unchangedBefore) && before[same] == after[same])
        ++same;
    if (same > 0 && before[same - 1].isHighSurrogate())
        --same;
    int sameEnd = 0;
    const int endLimit = std::min(shortest - same, change->unchangedAfter);
    while (sameEnd < endLimit &&
           before[before.size() - 1 - sameEnd] == after[after.size() - 1 - sameEnd])
        ++sameEnd;
    if (sameEnd > 0 && before[before.size() - sameEnd].isLowSurrogate())
        --sameEnd;
    Report(&editor, change->offset + same, before.mid(same, before.size() - same - sameEnd),
           after.mid(same, after.size() - same - sameEnd));
}

// The component tells of some selection changes (those of several
// selections) with no notification.
void AccessibilityNotifier::SelectionChanged() {
    if (listening)
        syncTimer.start();
}

void AccessibilityNotifier::OnUpdateUi(int) {
    if (listening && bulkDepth == 0)
        Sync();
}

// Reports what changed since the last time: the text, then the caret and the
// selection.
void AccessibilityNotifier::Sync() {
    if (!listening || bulkDepth > 0)
        return;
    const DocumentText document(source, CurrentIndex());
    const int caret = document.OffsetOf(editor.SendScintilla(SCI_GETCURRENTPOS));
    if (caret != lastCaret) {
        lastCaret = caret;
        QAccessibleTextCursorEvent event(&editor, caret);
        QAccessible::updateAccessibility(&event);
    }
    const long start = editor.SendScintilla(SCI_GETSELECTIONSTART);
    const long end = editor.SendScintilla(SCI_GETSELECTIONEND);
    const bool empty = start == end;
    if (empty && lastSelectionStart == lastSelectionEnd)
        return;
    const int startOffset = empty ? caret : document.OffsetOf(start);
    const int endOffset = empty ? caret : document.OffsetOf(end);
    if (startOffset == lastSelectionStart && endOffset == lastSelectionEnd)
        return;
    lastSelectionStart = startOffset;
    lastSelectionEnd = endOffset;
    QAccessibleTextSelectionEvent event(&editor, startOffset, endOffset);
    event.setCursorPosition(caret);
    QAccessible::updateAccessibility(&event);
}

// The index is not kept up to date block by block: counting the whole text
// once at the end costs far less.
void AccessibilityNotifier::BeginBulkChange() {
    if (bulkDepth++ > 0)
        return;
    if (!listening) {
        FlushChange();
        return;
    }
    bulkOldText = DocumentText(source, CurrentIndex()).Text(0, eventTextLimit);
    indexCurrent = false;
    index->Clear();
    editor.ApplyModificationEventMask();
}

void AccessibilityNotifier::EndBulkChange() {
    if (bulkDepth == 0 || --bulkDepth > 0)
        return;
    if (!listening)
        return;
    editor.ApplyModificationEventMask();
    const DocumentText document(source, CurrentIndex());
    Report(&editor, 0, std::exchange(bulkOldText, QString()), document.Text(0, eventTextLimit));
    Sync();
}
