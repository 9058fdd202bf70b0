#include "editor/EditorAccessible.h"

#include <QAccessible>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <cstring>
#include <string>
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

// The lines the items of a line are looked for in: the line, the lines next
// to it, and beyond those lines without any letter or digit (blank ones, say),
// up to itemLinesAround on each side. An item can reach across such lines.
// Worked out a line at a time, as far as a search needs them.
class ItemLines {
  public:
    ItemLines(const DocumentText& document, long line)
        : document(document), line(line), first(line), last(line) {}

    long Floor() const { return document.LineStart(first); }
    long Ceiling() const { return document.LineStart(last + 1); }
    bool FloorFinal() const { return firstFinal; }
    bool CeilingFinal() const { return lastFinal; }

    void WidenDown() {
        if (first == line ? first > 0
                          : first > 0 && line - first < itemLinesAround && !HasWords(first))
            --first;
        else
            firstFinal = true;
    }
    void WidenUp() {
        const long lines = document.Lines();
        if (last == line ? last < lines - 1
                         : last < lines - 1 && last - line < itemLinesAround && !HasWords(last))
            ++last;
        else
            lastFinal = true;
    }

  private:
    bool HasWords(long at) const {
        const QString text = document.Decode(document.LineStart(at), document.LineStart(at + 1));
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isLetterOrNumber(); });
    }

    const DocumentText& document;
    const long line;
    long first;
    long last;
    bool firstFinal = false;
    bool lastFinal = false;
};

// Where the text may be cut without changing any character or word
// boundary, or its kind, on either side. Between two ASCII characters the
// first of which neither joins words or numbers (letters, digits, '_' and
// . , ; : ') nor runs on (a space, before another one), the boundaries on
// each side stand on their own. With a Latin letter the nearest letter on
// both sides, the punctuation around the cut falls in the same run of one
// script in the part as in the whole; it matters to Thai, whose words Qt
// finds with a dictionary over each run.
constexpr long cutBlock = 1024;
constexpr long scriptReach = 64; // how far a Latin letter is looked for

bool IsLatinLetter(char byte) {
    const char lower = char(byte | 0x20);
    return lower >= 'a' && lower <= 'z';
}

// Whether the bytes may be cut before bytes[at].
bool CutsBefore(const std::string& bytes, size_t at) {
    static constexpr char cutters[] = "!\"#$%&()*+-/<=>?@[\\]^`{|}~\t";
    const char before = bytes[at - 1];
    const char after = bytes[at];
    if (static_cast<unsigned char>(after) >= 0x80)
        return false;
    if (before == ' ' ? after == ' ' : before == '\0' || !std::strchr(cutters, before))
        return false;
    auto latinFirst = [&](size_t i) {
        return static_cast<unsigned char>(bytes[i]) < 0x80 && IsLatinLetter(bytes[i]);
    };
    auto notAscii = [&](size_t i) { return static_cast<unsigned char>(bytes[i]) >= 0x80; };
    bool left = false;
    for (size_t i = at; i-- > 0 && at - i <= size_t(scriptReach) && !notAscii(i);) {
        if ((left = latinFirst(i)))
            break;
    }
    bool right = false;
    for (size_t i = at; i < bytes.size() && i - at < size_t(scriptReach) && !notAscii(i); ++i) {
        if ((right = latinFirst(i)))
            break;
    }
    return left && right;
}

// The nearest cut at or before a position (down to floor) and at or after it
// (up to ceiling), read a block at a time.
long CutAtOrBefore(const TextSource& source, long position, long floor) {
    std::string bytes;
    // A cut needs the byte after it.
    for (long end = std::min(position, source.Length() - 1) + 1; end > floor + 1; end -= cutBlock) {
        const long start = std::max(floor, end - cutBlock - 1);
        const long from = std::max(0L, start - scriptReach);
        source.Read(from, end + scriptReach, bytes);
        for (long at = end - 1; at > start; --at) {
            if (CutsBefore(bytes, size_t(at - from)))
                return at;
        }
    }
    return floor;
}

long CutAtOrAfter(const TextSource& source, long position, long ceiling) {
    std::string bytes;
    // A cut needs the byte before it.
    for (long start = std::max(position, 1L); start < ceiling; start += cutBlock) {
        const long end = std::min(ceiling, start + cutBlock);
        const long from = std::max(0L, start - 1 - scriptReach);
        source.Read(from, end + scriptReach, bytes);
        for (long at = start; at < end; ++at) {
            if (CutsBefore(bytes, size_t(at - from)))
                return at;
        }
    }
    return ceiling;
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

// Where the item before (which -1), at (0) or after (1) the offset starts and
// ends, in a window of the text that starts at offset base.
void FindItem(const QString& window, int base, int which, int offset,
              QTextBoundaryFinder::BoundaryType type, int& start, int& end) {
    ItemFinder finder(type, window);
    finder.MoveTo(offset - base);
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
    start += base;
    end += base;
}

QString ItemText(const QString& window, int base, int which, int start, int end, int* startOffset,
                 int* endOffset) {
    if (which != 0 && start == end)
        return QString();
    *startOffset = start;
    *endOffset = end;
    return window.mid(start - base, end - start);
}

// A character or a word: looked for in a window of the text around the
// offset that ends where no boundary depends on what lies beyond, widened
// until the item found does not reach an end of it (unless that is an end of
// the lines the item may reach). The answer is then the one all those lines
// would give, at the cost of the window.
QString NearbyItem(const DocumentText& document, const TextSource& source, long position, int which,
                   int offset, QTextBoundaryFinder::BoundaryType type, int* startOffset,
                   int* endOffset) {
    ItemLines lines(document, document.LineOf(position));
    for (long reach = 256;; reach *= 2) {
        const long from = CutAtOrBefore(source, position - reach, lines.Floor());
        const long to = CutAtOrAfter(source, position + reach, lines.Ceiling());
        const int base = document.OffsetOf(from);
        const QString window = document.Decode(from, to);
        int start, end;
        FindItem(window, base, which, offset, type, start, end);
        const bool startCut = start == base && !(from == lines.Floor() && lines.FloorFinal());
        const bool endCut =
            end == base + int(window.size()) && !(to == lines.Ceiling() && lines.CeilingFinal());
        if (!startCut && !endCut)
            return ItemText(window, base, which, start, end, startOffset, endOffset);
        if (startCut && from == lines.Floor())
            lines.WidenDown();
        if (endCut && to == lines.Ceiling())
            lines.WidenUp();
    }
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

    const long position = document.PositionOf(offset);
    const long line = document.LineOf(position);
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

    if (boundaryType != QAccessible::SentenceBoundary)
        return NearbyItem(document, Editor()->Accessibility().Source(), position, which, offset,
                          FinderType(boundaryType), startOffset, endOffset);

    // A sentence may depend on text far beyond it: it is looked for in all of
    // the lines the item may reach.
    ItemLines lines(document, line);
    while (!lines.FloorFinal())
        lines.WidenDown();
    while (!lines.CeilingFinal())
        lines.WidenUp();
    const int base = document.OffsetOf(lines.Floor());
    const QString window = document.Decode(lines.Floor(), lines.Ceiling());
    int start, end;
    FindItem(window, base, which, offset, QTextBoundaryFinder::Sentence, start, end);
    return ItemText(window, base, which, start, end, startOffset, endOffset);
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
