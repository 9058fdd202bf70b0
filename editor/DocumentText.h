// The document's text as assistive technology reads it, in UTF-16 offsets.
//
// Its characters are those the component shows and moves the caret over: a
// valid UTF-8 sequence is one character, every other byte one character of
// its own that reads as U+FFFD, and a NUL reads as U+2400 (SYMBOL FOR NULL),
// because D-Bus strings cannot carry a NUL and the offsets after it would
// break. Offsets are found through an OffsetIndex, the text in pieces of a
// few KiB with running sums, never by counting from the start: finding one
// costs O(log n) plus a piece, whatever the size of the document. Nothing
// here reads past the document's end.
#pragma once

#include <QString>
#include <climits>
#include <string>
#include <vector>

class QsciScintillaBase;

// The component's bytes as screen readers' queries and the index read them,
// counted. Tests read the count to show that what a query or an event costs
// does not grow with the size of the document, and that nothing is read while
// no screen reader listens.
class TextSource {
  public:
    explicit TextSource(const QsciScintillaBase& editor) : editor(editor) {}
    const QsciScintillaBase& Editor() const { return editor; }
    long Length() const;
    // The bytes [start, end), clamped to the document, into bytes, whose room
    // is kept from one read to the next.
    void Read(long start, long end, std::string& bytes) const;
    // Bytes copied out of the component through this source so far.
    long long BytesRead() const { return bytesRead; }

  private:
    const QsciScintillaBase& editor;
    mutable long long bytesRead = 0;
};

// Sums of the leading values of a sequence, changed and searched in O(log n)
// (a Fenwick tree).
class RunningSums {
  public:
    void Assign(const std::vector<long>& values);
    void Add(size_t index, long delta);
    long Total() const { return total; }
    // The sum of the values before index.
    long Before(size_t index) const;
    // The index of the value whose span holds at, the values being positive:
    // how many leading values sum to at most at, but no more than the last.
    size_t Holding(long at) const;

  private:
    std::vector<long> tree; // tree[0] unused
    long total = 0;
};

// Where each UTF-16 offset lies: the document in pieces of a few KiB, cut at
// character boundaries, each knowing its bytes and its units, with running
// sums of both. Built in one pass over the text, mostly eight ASCII bytes at
// a time, and mended after each change by cutting its neighbourhood again.
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
    void Clear();
    void Build(const TextSource& source);
    // After the bytes [position, position + removed) were replaced by
    // inserted bytes.
    void Update(const TextSource& source, long position, long removed, long inserted);
    // The piece holding a position or an offset; the last one for the end.
    Place AtPosition(long position) const;
    Place AtOffset(int offset) const;

  private:
    struct Size {
        long bytes;
        long units;
    };

    Place PlaceOf(size_t piece) const;
    void Sum();
    static long Cut(const TextSource& source, long start, long end, std::vector<Size>& out);

    std::vector<Size> pieces;
    RunningSums bytes;
    RunningSums units;
};

// The document's text and its offsets, found through an index that is up to
// date, and counted within a piece or a line.
class DocumentText {
  public:
    DocumentText(const TextSource& source, const OffsetIndex& index)
        : source(source), index(index) {}

    long Length() const;
    long Lines() const;
    int Count() const { return index.Units(); }
    long LineStart(long line) const;
    long LineOf(long position) const;
    int OffsetOfLine(long line) const { return OffsetOf(LineStart(line)); }
    long LineOfOffset(int offset) const { return LineOf(PositionOf(offset)); }

    // A position inside a character counts as the character's start.
    int OffsetOf(long position) const;
    // An offset between the halves of a surrogate pair gives the pair's
    // start; exact, when given, receives the offset of the position returned.
    long PositionOf(int offset, int* exact = nullptr) const;
    // The UTF-16 units [start, end), clamped to the document.
    QString Text(int start, int end) const;
    // The characters starting in [from, to), from a character boundary, up to
    // limit units.
    QString Decode(long from, long to, int limit = INT_MAX) const;
    // The same, counting the units of the characters that end at or before
    // before, and of those that start at or after after.
    QString Decode(long from, long to, long before, long after, int& unitsBefore,
                   int& unitsAfter) const;

    // A character boundary at or before position whose place does not depend
    // on anything after position, and one at or after it that does not
    // depend on anything before.
    long BoundaryAtOrBefore(long position) const;
    long BoundaryAtOrAfter(long position) const;

  private:
    unsigned char ByteAt(long position) const;

    const TextSource& source;
    const OffsetIndex& index;
};

// At most limit units of text, without cutting a surrogate pair in two.
QString Limited(const QString& text, int limit);
