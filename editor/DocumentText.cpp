#include "editor/DocumentText.h"

#include "editor/DocumentBytes.h"

#include <Qsci/qsciscintillabase.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// Bytes copied out of the component at a time.
constexpr long blockBytes = 65536;
// The size the index's pieces are cut to.
constexpr long pieceBytes = 4096;
constexpr uint64_t asciiMask = 0x8080808080808080ULL;

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

// Reads the document's characters forwards from a character boundary, a
// block of bytes at a time, never past its end. The walk is expected to stop
// around stop, so blocks reach no further than the last character that can
// start before it.
class CharacterReader {
  public:
    CharacterReader(const TextSource& source, long position, long stop)
        : source(source), position(position), stop(stop), length(source.Length()) {}

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
        source.Read(position, end, block);
    }

    const TextSource& source;
    long position;
    const long stop;
    const long length;
    std::string block;
    long blockStart = 0;
};

} // namespace

QString Limited(const QString& text, int limit) {
    if (text.size() <= limit)
        return text;
    if (text.at(limit - 1).isHighSurrogate())
        --limit;
    return text.left(limit);
}

long TextSource::Length() const {
    return editor.SendScintilla(SCI_GETLENGTH);
}

void TextSource::Read(long start, long end, std::string& bytes) const {
    bytesRead += CopyBytes(editor, start, end, bytes);
}

// ---------------------------------------------------------------------------

void RunningSums::Assign(const std::vector<long>& values) {
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

void RunningSums::Add(size_t index, long delta) {
    total += delta;
    for (size_t i = index + 1; i < tree.size(); i += i & (~i + 1))
        tree[i] += delta;
}

long RunningSums::Before(size_t index) const {
    long sum = 0;
    for (size_t i = index; i > 0; i -= i & (~i + 1))
        sum += tree[i];
    return sum;
}

size_t RunningSums::Holding(long at) const {
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

// ---------------------------------------------------------------------------

void OffsetIndex::Clear() {
    pieces.clear();
    Sum();
}

void OffsetIndex::Build(const TextSource& source) {
    pieces.clear();
    Cut(source, 0, source.Length(), pieces);
    Sum();
}

// The pieces around the change, at least three bytes on either side (bytes
// that are not UTF-8 can join a neighbour or part from it), are cut again
// from the document.
void OffsetIndex::Update(const TextSource& source, long position, long removed, long inserted) {
    if (pieces.empty()) {
        Build(source);
        return;
    }
    const long oldLength = Bytes();
    const size_t first = bytes.Holding(std::max(0L, position - 3));
    const size_t last = bytes.Holding(std::min(oldLength - 1, position + removed + 2));
    const long start = bytes.Before(first);
    const long end = bytes.Before(last) + pieces[last].bytes - removed + inserted;
    std::vector<Size> replacement;
    if (Cut(source, start, end, replacement) != end) {
        Build(source); // a character reached past the neighbourhood
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

OffsetIndex::Place OffsetIndex::AtPosition(long position) const {
    return pieces.empty() ? Place{0, 0, 0, 0} : PlaceOf(bytes.Holding(position));
}

OffsetIndex::Place OffsetIndex::AtOffset(int offset) const {
    return pieces.empty() ? Place{0, 0, 0, 0} : PlaceOf(units.Holding(offset));
}

OffsetIndex::Place OffsetIndex::PlaceOf(size_t piece) const {
    return {piece, bytes.Before(piece), int(units.Before(piece)), pieces[piece].bytes};
}

void OffsetIndex::Sum() {
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
long OffsetIndex::Cut(const TextSource& source, long start, long end, std::vector<Size>& out) {
    const long length = source.Length();
    std::string block;
    Size piece{0, 0};
    long position = start;
    while (position < end) {
        const long blockEnd = std::min(length, position + blockBytes);
        const long size = blockEnd - position;
        if (size <= 0)
            break; // asked for more than the document holds
        source.Read(position, blockEnd, block);
        const auto* data = reinterpret_cast<const unsigned char*>(block.data());
        // Characters are classified with the bytes after them, which must be
        // in the block unless the document ends there.
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

// ---------------------------------------------------------------------------

long DocumentText::Length() const {
    return source.Length();
}

long DocumentText::Lines() const {
    return source.Editor().SendScintilla(SCI_GETLINECOUNT);
}

long DocumentText::LineStart(long line) const {
    if (line >= Lines())
        return Length();
    return source.Editor().SendScintilla(SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
}

long DocumentText::LineOf(long position) const {
    return source.Editor().SendScintilla(SCI_LINEFROMPOSITION,
                                         static_cast<unsigned long>(position));
}

unsigned char DocumentText::ByteAt(long position) const {
    return static_cast<unsigned char>(
        source.Editor().SendScintilla(SCI_GETCHARAT, static_cast<unsigned long>(position)));
}

int DocumentText::OffsetOf(long position) const {
    position = std::clamp(position, 0L, Length());
    const OffsetIndex::Place place = index.AtPosition(position);
    if (place.position == position)
        return place.offset;
    int offset = place.offset;
    CharacterReader reader(source, place.position, position);
    while (!reader.AtEnd()) {
        const Character character = reader.Peek();
        if (reader.Position() + character.bytes > position)
            break;
        offset += character.units;
        reader.Skip(character);
    }
    return offset;
}

long DocumentText::PositionOf(int offset, int* exact) const {
    offset = std::clamp(offset, 0, Count());
    const OffsetIndex::Place place = index.AtOffset(offset);
    int at = place.offset;
    CharacterReader reader(source, place.position, place.position + place.bytes);
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

QString DocumentText::Text(int start, int end) const {
    end = std::min(end, Count());
    if (start < 0)
        start = 0;
    if (start >= end)
        return QString();
    int at;
    const long position = PositionOf(start, &at);
    const int first = at;
    QString text;
    CharacterReader reader(source, position, PositionOf(end) + 1);
    while (at < end && !reader.AtEnd()) {
        const Character character = reader.Peek();
        Append(text, character);
        at += character.units;
        reader.Skip(character);
    }
    return text.mid(start - first, end - start);
}

QString DocumentText::Decode(long from, long to, int limit) const {
    QString text;
    CharacterReader reader(source, from, to);
    while (reader.Position() < to && !reader.AtEnd() && text.size() < limit) {
        const Character character = reader.Peek();
        Append(text, character);
        reader.Skip(character);
    }
    return Limited(text, limit);
}

QString DocumentText::Decode(long from, long to, long before, long after, int& unitsBefore,
                             int& unitsAfter) const {
    QString text;
    unitsBefore = unitsAfter = 0;
    CharacterReader reader(source, from, to);
    while (reader.Position() < to && !reader.AtEnd()) {
        const Character character = reader.Peek();
        if (reader.Position() + character.bytes <= before)
            unitsBefore += character.units;
        if (reader.Position() >= after)
            unitsAfter += character.units;
        Append(text, character);
        reader.Skip(character);
    }
    return text;
}

// A byte that is no trail byte always starts a character, and a character is
// at most four bytes long.
long DocumentText::BoundaryAtOrBefore(long position) const {
    if (position <= 0)
        return 0;
    for (long at = position; at > position - 4; --at) {
        if (at == 0 || !IsTrailByte(ByteAt(at)))
            return at;
    }
    return position; // three trail bytes before it: nothing can reach it
}

long DocumentText::BoundaryAtOrAfter(long position) const {
    const long length = Length();
    for (long at = position; at < position + 3; ++at) {
        if (at >= length || !IsTrailByte(ByteAt(at)))
            return std::min(at, length);
    }
    return std::min(position + 3, length);
}
