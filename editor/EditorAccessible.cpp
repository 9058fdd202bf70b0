#include "editor/EditorAccessible.h"

#include <QAccessible>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "editor/EditorWindow.h"

namespace {

using Sci = QsciScintillaBase;

// An event carries at most this many UTF-16 units of inserted or removed
// text, so that loading or clearing 100 MiB does not push 100 MiB through
// D-Bus; its offset stays exact.
constexpr int eventTextLimit = 65536;
// A change of more bytes than this is reported from its own text alone,
// without comparing its neighbourhood before and after.
constexpr long largeChange = 65536;
// Bytes copied out of the component at a time.
constexpr long blockBytes = 65536;
// The size the index's pieces are cut to.
constexpr long pieceBytes = 4096;
// How far a word or sentence is looked for, in lines on each side.
constexpr long itemLinesAround = 64;

constexpr char32_t replacementCharacter = 0xFFFD;
constexpr char32_t nulSymbol = 0x2400;

bool IsTrailByte(unsigned char byte) {
    return byte >= 0x80 && byte < 0xC0;
}

// One character as the component shows it and moves the caret over it.
struct Character {
    int bytes;     // in the document
    int units;     // UTF-16 units
    char32_t code; // what a screen reader reads
};

// The character starting at s, with n bytes readable there. A valid UTF-8
// sequence is one character, as Scintilla's UTF8Classify has it: not
// overlong, no surrogate, nothing past U+10FFFF and no non-character
// (U+FFFE, U+FFFF, U+FDD0..U+FDEF and the last two of each plane). Any other
// byte is a character of its own, drawn as a blob of its hex value, and
// reads as U+FFFD. A NUL reads as U+2400.
Character Classify(const unsigned char* s, size_t n) {
    const unsigned char lead = s[0];
    if (lead < 0x80)
        return {1, 1, lead == 0 ? nulSymbol : char32_t(lead)};
    const Character invalid{1, 1, replacementCharacter};
    auto trail = [&](size_t i) { return i < n && IsTrailByte(s[i]); };
    const int length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
    if (length == 1 || !trail(1))
        return invalid;
    if (length == 2)
        return {2, 1, char32_t(((lead & 0x1F) << 6) | (s[1] & 0x3F))};
    if (length == 3) {
        if (!trail(2))
            return invalid;
        if ((lead == 0xE0 && (s[1] & 0xE0) == 0x80) || (lead == 0xED && (s[1] & 0xE0) == 0xA0))
            return invalid; // overlong, or a surrogate
        const char32_t code = ((lead & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        if (code == 0xFFFE || code == 0xFFFF || (code >= 0xFDD0 && code <= 0xFDEF))
            return invalid;
        return {3, 1, code};
    }
    if (!trail(2) || !trail(3))
        return invalid;
    const char32_t code =
        ((lead & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6) | (s[3] & 0x3F);
    if ((code & 0xFFFE) == 0xFFFE || code > 0x10FFFF || code < 0x10000)
        return invalid; // a non-character, past U+10FFFF, or overlong
    return {4, 2, code};
}

void Append(QString& text, const Character& character) {
    if (character.code > 0xFFFF) {
        text.append(QChar(QChar::highSurrogate(character.code)));
        text.append(QChar(QChar::lowSurrogate(character.code)));
    } else {
        text.append(QChar(char16_t(character.code)));
    }
}

// At most limit units of text, without cutting a surrogate pair in two.
QString Limited(const QString& text, int limit = eventTextLimit) {
    if (text.size() <= limit)
        return text;
    if (text.at(limit - 1).isHighSurrogate())
        --limit;
    return text.left(limit);
}

long long bytesRead = 0;

// Reads the document's characters forwards from a character boundary, a
// block of bytes at a time, never past its end. The walk is expected to stop
// around stop, so blocks reach no further than the last character that can
// start before it.
class CharacterReader {
  public:
    CharacterReader(const Sci& editor, long position, long stop)
        : editor(editor), position(position), stop(stop),
          length(editor.SendScintilla(Sci::SCI_GETLENGTH)) {}

    bool AtEnd() const { return position >= length; }
    long Position() const { return position; }
    void Skip(const Character& character) { position += character.bytes; }

    // The character at Position(); only when not AtEnd().
    Character Peek() {
        // A character takes up to four bytes, which must all be in the block
        // unless the document ends first.
        const long inBlock = position - blockStart;
        const long blockEnd = blockStart + long(block.size());
        if (inBlock < 0 || position + 4 > blockEnd) {
            if (position >= blockEnd || blockEnd < length)
                Fill();
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
        const long offset = position - blockStart;
        return Classify(bytes + offset, size_t(long(block.size()) - offset));
    }

  private:
    void Fill() {
        blockStart = position;
        const long wanted = position < stop ? stop + 3 : position + 4096;
        const long end = std::min({length, position + blockBytes, wanted});
        bytesRead += end - position;
        block.resize(size_t(end - position) + 1); // the component adds a NUL
        editor.SendScintilla(Sci::SCI_GETTEXTRANGE, position, end, block.data());
        block.resize(size_t(end - position));
    }

    const Sci& editor;
    long position;
    const long stop;
    const long length;
    std::string block;
    long blockStart = 0;
};

} // namespace

// Sums of the leading values of a sequence, changed and searched in O(log n)
// (a Fenwick tree).
class RunningSums {
  public:
    void Assign(const std::vector<long>& values) {
        tree.assign(values.size() + 1, 0);
        total = 0;
        for (size_t i = 1; i < tree.size(); ++i) {
            tree[i] += values[i - 1];
            total += values[i - 1];
            const size_t parent = i + (i & (~i + 1));
            if (parent < tree.size())
                tree[parent] += tree[i];
        }
    }
    void Add(size_t index, long delta) {
        total += delta;
        for (size_t i = index + 1; i < tree.size(); i += i & (~i + 1))
            tree[i] += delta;
    }
    long Total() const { return total; }
    // The sum of the values before index.
    long Before(size_t index) const {
        long sum = 0;
        for (size_t i = index; i > 0; i -= i & (~i + 1))
            sum += tree[i];
        return sum;
    }
    // The index of the value whose span holds at, the values being positive:
    // how many leading values sum to at most at, but no more than the last.
    size_t Holding(long at) const {
        const size_t count = tree.size() - 1;
        size_t index = 0;
        size_t step = 1;
        while (step * 2 <= count)
            step *= 2;
        for (; step > 0; step /= 2) {
            if (index + step <= count && tree[index + step] <= at) {
                index += step;
                at -= tree[index];
            }
        }
        return std::min(index, count - 1);
    }

  private:
    std::vector<long> tree; // tree[0] unused
    long total = 0;
};

// Where each UTF-16 offset lies: the document in pieces of about pieceBytes,
// cut at character boundaries, each knowing its bytes and its units, with
// running sums of both. Built in one pass over the text, mostly eight ASCII
// bytes at a time, and mended after each change by cutting its neighbourhood
// again.
class OffsetIndex {
  public:
    struct Place {
        size_t piece;
        long position; // where the piece starts
        int offset;    // its first unit
        long bytes;    // its length
    };

    long Bytes() const { return bytes.Total(); }
    int Units() const { return int(units.Total()); }
    void Clear() {
        pieces.clear();
        Sum();
    }

    void Build(const Sci& editor) {
        pieces.clear();
        Cut(editor, 0, editor.SendScintilla(Sci::SCI_GETLENGTH), pieces);
        Sum();
    }

    // After the bytes [position, position + removed) were replaced by
    // inserted bytes. The pieces around the change, at least three bytes on
    // either side (bytes that are not UTF-8 can join a neighbour or part from
    // it), are cut again from the document.
    void Update(const Sci& editor, long position, long removed, long inserted) {
        if (pieces.empty()) {
            Build(editor);
            return;
        }
        const long oldLength = Bytes();
        const size_t first = bytes.Holding(std::max(0L, position - 3));
        const size_t last = bytes.Holding(std::min(oldLength - 1, position + removed + 2));
        const long start = bytes.Before(first);
        const long end = bytes.Before(last) + pieces[last].bytes - removed + inserted;
        std::vector<Size> replacement;
        if (Cut(editor, start, end, replacement) != end) {
            Build(editor); // a character reached past the neighbourhood
            return;
        }
        if (replacement.size() == last - first + 1) {
            for (size_t i = 0; i < replacement.size(); ++i) {
                bytes.Add(first + i, replacement[i].bytes - pieces[first + i].bytes);
                units.Add(first + i, replacement[i].units - pieces[first + i].units);
                pieces[first + i] = replacement[i];
            }
            return;
        }
        pieces.erase(pieces.begin() + long(first), pieces.begin() + long(last) + 1);
        pieces.insert(pieces.begin() + long(first), replacement.begin(), replacement.end());
        Sum();
    }

    // The piece holding a position or an offset; the last one for the end.
    Place AtPosition(long position) const {
        return pieces.empty() ? Place{0, 0, 0, 0} : PlaceOf(bytes.Holding(position));
    }
    Place AtOffset(int offset) const {
        return pieces.empty() ? Place{0, 0, 0, 0} : PlaceOf(units.Holding(offset));
    }

  private:
    struct Size {
        long bytes;
        long units;
    };

    Place PlaceOf(size_t piece) const {
        return {piece, bytes.Before(piece), int(units.Before(piece)), pieces[piece].bytes};
    }

    void Sum() {
        std::vector<long> byteSizes, unitSizes;
        byteSizes.reserve(pieces.size());
        unitSizes.reserve(pieces.size());
        for (const Size& piece : pieces) {
            byteSizes.push_back(piece.bytes);
            unitSizes.push_back(piece.units);
        }
        bytes.Assign(byteSizes);
        units.Assign(unitSizes);
    }

    // Cuts the characters that start in [start, end), start being a character
    // boundary, into pieces; returns where the last one ends.
    static long Cut(const Sci& editor, long start, long end, std::vector<Size>& out) {
        const long length = editor.SendScintilla(Sci::SCI_GETLENGTH);
        std::string block;
        Size piece{0, 0};
        long position = start;
        while (position < end) {
            const long blockEnd = std::min(length, position + blockBytes);
            const long size = blockEnd - position;
            if (size <= 0)
                break;                      // asked for more than the document holds
            block.resize(size_t(size) + 1); // the component adds a NUL
            editor.SendScintilla(Sci::SCI_GETTEXTRANGE, position, blockEnd, block.data());
            bytesRead += size;
            const auto* data = reinterpret_cast<const unsigned char*>(block.data());
            // Characters are classified with the bytes after them, which must
            // be in the block unless the document ends there.
            const long usable = std::min(blockEnd == length ? size : size - 3, end - position);
            long i = 0;
            while (i < usable) {
                uint64_t eight;
                if (i + 8 <= usable && (std::memcpy(&eight, data + i, 8), !(eight & asciiMask))) {
                    piece.bytes += 8;
                    piece.units += 8;
                    i += 8;
                } else {
                    const Character character = Classify(data + i, size_t(size - i));
                    piece.bytes += character.bytes;
                    piece.units += character.units;
                    i += character.bytes;
                }
                if (piece.bytes >= pieceBytes) {
                    out.push_back(piece);
                    piece = {0, 0};
                }
            }
            position += i;
        }
        if (piece.bytes > 0)
            out.push_back(piece);
        return position;
    }

    static constexpr uint64_t asciiMask = 0x8080808080808080ULL;
    std::vector<Size> pieces;
    RunningSums bytes;
    RunningSums units;
};

namespace {

// The document as UTF-16 offsets, found through the index and counted within
// a piece or a line.
class DocumentText {
  public:
    DocumentText(const Sci& editor, const OffsetIndex& index) : editor(editor), index(index) {}

    long Length() const { return editor.SendScintilla(Sci::SCI_GETLENGTH); }
    long Lines() const { return editor.SendScintilla(Sci::SCI_GETLINECOUNT); }
    int Count() const { return index.Units(); }
    long LineStart(long line) const {
        if (line >= Lines())
            return Length();
        return editor.SendScintilla(Sci::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    }
    long LineOf(long position) const {
        return editor.SendScintilla(Sci::SCI_LINEFROMPOSITION,
                                    static_cast<unsigned long>(position));
    }
    int OffsetOfLine(long line) const { return OffsetOf(LineStart(line)); }
    long LineOfOffset(int offset) const { return LineOf(PositionOf(offset)); }
    unsigned char ByteAt(long position) const {
        return static_cast<unsigned char>(
            editor.SendScintilla(Sci::SCI_GETCHARAT, static_cast<unsigned long>(position)));
    }

    // A position inside a character counts as the character's start.
    int OffsetOf(long position) const {
        position = std::clamp(position, 0L, Length());
        const OffsetIndex::Place place = index.AtPosition(position);
        if (place.position == position)
            return place.offset;
        int offset = place.offset;
        CharacterReader reader(editor, place.position, position);
        while (!reader.AtEnd()) {
            const Character character = reader.Peek();
            if (reader.Position() + character.bytes > position)
                break;
            offset += character.units;
            reader.Skip(character);
        }
        return offset;
    }

    // An offset between the halves of a surrogate pair gives the pair's
    // start; exact, when given, receives the offset of the position returned.
    long PositionOf(int offset, int* exact = nullptr) const {
        offset = std::clamp(offset, 0, Count());
        const OffsetIndex::Place place = index.AtOffset(offset);
        int at = place.offset;
        CharacterReader reader(editor, place.position, place.position + place.bytes);
        while (at < offset && !reader.AtEnd()) {
            const Character character = reader.Peek();
            if (at + character.units > offset)
                break;
            at += character.units;
            reader.Skip(character);
        }
        if (exact)
            *exact = at;
        return reader.Position();
    }

    // The UTF-16 units [start, end), clamped to the document.
    QString Text(int start, int end) const {
        end = std::min(end, Count());
        if (start < 0)
            start = 0;
        if (start >= end)
            return QString();
        int at;
        const long position = PositionOf(start, &at);
        const int first = at;
        QString text;
        CharacterReader reader(editor, position, PositionOf(end) + 1);
        while (at < end && !reader.AtEnd()) {
            const Character character = reader.Peek();
            Append(text, character);
            at += character.units;
            reader.Skip(character);
        }
        return text.mid(start - first, end - start);
    }

    // The characters starting in [from, to), from a character boundary, up to
    // limit units.
    QString Decode(long from, long to, int limit = INT_MAX) const {
        QString text;
        CharacterReader reader(editor, from, to);
        while (reader.Position() < to && !reader.AtEnd() && text.size() < limit) {
            const Character character = reader.Peek();
            Append(text, character);
            reader.Skip(character);
        }
        return Limited(text, limit);
    }

    // A character boundary at or before position whose place does not depend
    // on anything after position: a byte that is no trail byte always starts
    // a character, and a character is at most four bytes long.
    long BoundaryAtOrBefore(long position) const {
        if (position <= 0)
            return 0;
        for (long at = position; at > position - 4; --at) {
            if (at == 0 || !IsTrailByte(ByteAt(at)))
                return at;
        }
        return position; // three trail bytes before it: nothing can reach it
    }

    // The same at or after position, independent of what comes before it.
    long BoundaryAtOrAfter(long position) const {
        const long length = Length();
        for (long at = position; at < position + 3; ++at) {
            if (at >= length || !IsTrailByte(ByteAt(at)))
                return std::min(at, length);
        }
        return std::min(position + 3, length);
    }

  private:
    const Sci& editor;
    const OffsetIndex& index;
};

// The component's selections that hold text, as byte ranges, with their
// indexes among all of its selections.
struct Selection {
    int index;
    long start;
    long end;
};

std::vector<Selection> Selections(const Sci& editor) {
    std::vector<Selection> selections;
    const int count = int(editor.SendScintilla(Sci::SCI_GETSELECTIONS));
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<unsigned long>(i);
        const long start = editor.SendScintilla(Sci::SCI_GETSELECTIONNSTART, n);
        const long end = editor.SendScintilla(Sci::SCI_GETSELECTIONNEND, n);
        if (start < end)
            selections.push_back({i, start, end});
    }
    return selections;
}

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
    const QString gone = Limited(removed);
    const QString added = Limited(inserted);
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

long long AccessibilityBytesRead() {
    return bytesRead;
}

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
    return DocumentText(*editor, editor->Accessibility().CurrentIndex());
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
    const bool readOnly = Editor()->SendScintilla(Sci::SCI_GETREADONLY) != 0;
    state.multiLine = true;
    state.selectableText = true;
    state.readOnly = readOnly;
    state.editable = !readOnly;
    return state;
}

void EditorAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const DocumentText document = QueryText(Editor());
    const std::vector<Selection> selections = Selections(*Editor());
    *startOffset = *endOffset = 0;
    if (selectionIndex < 0 || selectionIndex >= int(selections.size()))
        return;
    *startOffset = document.OffsetOf(selections[size_t(selectionIndex)].start);
    *endOffset = document.OffsetOf(selections[size_t(selectionIndex)].end);
}

int EditorAccessible::selectionCount() const {
    return int(Selections(*Editor()).size());
}

void EditorAccessible::addSelection(int startOffset, int endOffset) {
    if (Selections(*Editor()).empty()) {
        setSelection(0, startOffset, endOffset);
        return;
    }
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(Sci::SCI_ADDSELECTION,
                            static_cast<unsigned long>(document.PositionOf(endOffset)),
                            document.PositionOf(startOffset));
    Editor()->Accessibility().SelectionChanged();
}

void EditorAccessible::removeSelection(int selectionIndex) {
    const std::vector<Selection> selections = Selections(*Editor());
    if (selectionIndex < 0 || selectionIndex >= int(selections.size()))
        return;
    if (Editor()->SendScintilla(Sci::SCI_GETSELECTIONS) == 1) {
        const long caret = Editor()->SendScintilla(Sci::SCI_GETCURRENTPOS);
        Editor()->SendScintilla(Sci::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
    } else {
        Editor()->SendScintilla(
            Sci::SCI_DROPSELECTIONN,
            static_cast<unsigned long>(selections[size_t(selectionIndex)].index));
        Editor()->Accessibility().SelectionChanged();
    }
}

void EditorAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    const DocumentText document = QueryText(Editor());
    const long anchor = document.PositionOf(startOffset);
    const long caret = document.PositionOf(endOffset);
    const std::vector<Selection> selections = Selections(*Editor());
    if (selectionIndex <= 0 || selectionIndex >= int(selections.size())) {
        if (selectionIndex > 0)
            addSelection(startOffset, endOffset);
        else
            Editor()->SendScintilla(Sci::SCI_SETSEL, static_cast<unsigned long>(anchor), caret);
        return;
    }
    const auto index = static_cast<unsigned long>(selections[size_t(selectionIndex)].index);
    Editor()->SendScintilla(Sci::SCI_SETSELECTIONNANCHOR, index, anchor);
    Editor()->SendScintilla(Sci::SCI_SETSELECTIONNCARET, index, caret);
    Editor()->Accessibility().SelectionChanged();
}

int EditorAccessible::cursorPosition() const {
    const DocumentText document = QueryText(Editor());
    return document.OffsetOf(Editor()->SendScintilla(Sci::SCI_GETCURRENTPOS));
}

void EditorAccessible::setCursorPosition(int position) {
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(Sci::SCI_GOTOPOS,
                            static_cast<unsigned long>(document.PositionOf(position)));
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
    const int x = point(Sci::SCI_POINTXFROMPOSITION, position);
    const int y = point(Sci::SCI_POINTYFROMPOSITION, position);
    const long next =
        editor->SendScintilla(Sci::SCI_POSITIONAFTER, static_cast<unsigned long>(position));
    int width = 0;
    if (next > position && point(Sci::SCI_POINTYFROMPOSITION, next) == y)
        width = point(Sci::SCI_POINTXFROMPOSITION, next) - x;
    if (width <= 0)
        width = int(editor->SendScintilla(Sci::SCI_TEXTWIDTH, Sci::STYLE_DEFAULT, " "));
    const long line =
        editor->SendScintilla(Sci::SCI_LINEFROMPOSITION, static_cast<unsigned long>(position));
    const int height =
        int(editor->SendScintilla(Sci::SCI_TEXTHEIGHT, static_cast<unsigned long>(line)));
    return QRect(editor->viewport()->mapToGlobal(QPoint(x, y)), QSize(std::max(width, 1), height));
}

int EditorAccessible::offsetAtPoint(const QPoint& point) const {
    const DocumentText document = QueryText(Editor());
    const QPoint local = Editor()->viewport()->mapFromGlobal(point);
    const long position = Editor()->SendScintilla(Sci::SCI_POSITIONFROMPOINTCLOSE,
                                                  static_cast<unsigned long>(local.x()), local.y());
    return position < 0 ? -1 : document.OffsetOf(position);
}

void EditorAccessible::scrollToSubstring(int startIndex, int endIndex) {
    const DocumentText document = QueryText(Editor());
    Editor()->SendScintilla(Sci::SCI_SCROLLRANGE,
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
    if (editor->SendScintilla(Sci::SCI_GETREADONLY))
        return;
    const DocumentText document = QueryText(editor);
    const long start = document.PositionOf(startOffset);
    const long end = std::max(start, document.PositionOf(endOffset));
    const QByteArray bytes = text.toUtf8();
    editor->SendScintilla(Sci::SCI_BEGINUNDOACTION);
    editor->SendScintilla(Sci::SCI_SETTARGETRANGE, static_cast<unsigned long>(start), end);
    editor->SendScintilla(Sci::SCI_REPLACETARGET, static_cast<uintptr_t>(bytes.size()),
                          bytes.constData());
    editor->SendScintilla(Sci::SCI_ENDUNDOACTION);
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
    : editor(editor), index(std::make_unique<OffsetIndex>()) {
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
        const DocumentText document(editor, CurrentIndex());
        lastCaret = document.OffsetOf(editor.SendScintilla(Sci::SCI_GETCURRENTPOS));
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
    if (!indexCurrent || index->Bytes() != editor.SendScintilla(Sci::SCI_GETLENGTH)) {
        index->Build(editor);
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
    const bool insertion = (type & Sci::SC_MOD_BEFOREINSERT) != 0;
    if (!(insertion || (type & Sci::SC_MOD_BEFOREDELETE)) || !FollowsChanges())
        return;
    const DocumentText document(editor, CurrentIndex());
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
        CharacterReader reader(editor, start, end);
        while (reader.Position() < end && !reader.AtEnd()) {
            const Character character = reader.Peek();
            if (reader.Position() + character.bytes <= position)
                change->unchangedBefore += character.units;
            if (reader.Position() >= changeEnd)
                change->unchangedAfter += character.units;
            Append(change->before, character);
            reader.Skip(character);
        }
    }
    pending = std::move(change);
    syncTimer.start();
}

void AccessibilityNotifier::FlushChange() {
    if (!pending)
        return;
    const std::unique_ptr<Change> change = std::move(pending);
    if (indexCurrent)
        index->Update(editor, change->position, change->removed, change->inserted);
    const DocumentText document(editor, *index);
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
    const DocumentText document(editor, CurrentIndex());
    const int caret = document.OffsetOf(editor.SendScintilla(Sci::SCI_GETCURRENTPOS));
    if (caret != lastCaret) {
        lastCaret = caret;
        QAccessibleTextCursorEvent event(&editor, caret);
        QAccessible::updateAccessibility(&event);
    }
    const long start = editor.SendScintilla(Sci::SCI_GETSELECTIONSTART);
    const long end = editor.SendScintilla(Sci::SCI_GETSELECTIONEND);
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
    bulkOldText = DocumentText(editor, CurrentIndex()).Text(0, eventTextLimit);
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
    const DocumentText document(editor, CurrentIndex());
    Report(&editor, 0, std::exchange(bulkOldText, QString()), document.Text(0, eventTextLimit));
    Sync();
}
