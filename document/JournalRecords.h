// How a journal lies on disk, and the text its records describe. The
// journal's writer (Journal.cpp) and its reader (KeptJournal.cpp) use these;
// the rest of the program goes through Journal.h, which hands out the one
// piece it needs, SequentialSource, for the file a kept journal's changes
// were made to.
//
// A journal is a header followed by records. Every record ends in a CRC-32C
// of its type and contents, and a batch of records counts only once the commit
// record after it is whole, so a journal cut short anywhere reads as the text
// at the last commit before the cut. Integers are little-endian.
//
//   header:   "VARNEJNL" version:u32 hasFile:u32 began:i64 device:u64 inode:u64
//             size:i64 seconds:i64 nanoseconds:i64 baseLength:i64 pathLength:u32
//             path crc:u32
//   edit:     1:u8 position:i64 removed:i64 length:i64 bytes crc:u32
//   snapshot: 2:u8 length:i64 bytes crc:u32   (the whole text from here on)
//   commit:   3:u8 time:i64 crc:u32
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "document/FileAccess.h"

namespace journalrecords {

enum RecordType : unsigned char { editRecord = 1, snapshotRecord = 2, commitRecord = 3 };

constexpr size_t editFields = 1 + 3 * 8;
constexpr size_t snapshotFields = 1 + 8;
constexpr size_t commitFields = 1 + 8;
constexpr size_t checksumSize = 4;
// The header with a path of the longest length the system allows.
constexpr size_t longestHeader = 8 + 2 * 4 + 7 * 8 + 4 + 4096 + checksumSize;

struct Header {
    std::string path;                 // the document's; empty for an untitled one
    std::optional<FileIdentity> file; // the file the changes were made to
    int64_t baseLength = 0;           // its length then; 0 for an untitled document
    int64_t began = 0;                // nanoseconds since the epoch, at the first change
};

std::string EncodeHeader(const Header& header);
// The size of the header at the start of data, or 0 when there is no whole,
// valid one.
size_t DecodeHeader(const char* data, size_t size, Header& header);

// CRC-32C of data, carried on from running (0 to start).
uint32_t Checksum(uint32_t running, const char* data, size_t size);
inline uint32_t Checksum(const char* data, size_t size) {
    return Checksum(0, data, size);
}
// The same without the processor's instruction, for tests.
uint32_t ChecksumByTable(uint32_t running, const char* data, size_t size);

void PutInteger(char* out, uint64_t value, int bytes);
uint64_t GetInteger(const char* in, int bytes);

// The start of the names of a document's journals: a hash of its path, or
// "untitled", and ".journal"; a second journal of the same document has
// "-2" added, and so on.
std::string JournalNameStem(const std::string& path);
bool IsJournalName(const std::string& name, const std::string& stem);

// A second descriptor of the same open file, closed on exec.
int DuplicateDescriptor(int fd);

// The text as pieces of two sources: the base (the file the changes were made
// to, or nothing for an untitled document) and the journal file itself, where
// inserted bytes and snapshots lie. Base pieces stay in the base's order, so
// the base is read once from its start.
class Pieces {
  public:
    enum class Source : unsigned char { base, journal };
    struct Piece {
        Source source;
        int64_t offset;
        int64_t length;
    };

    void Start(Source source, int64_t offset, int64_t length);
    // Replaces [position, position + removed) by length bytes found at offset
    // in the journal. False, with nothing changed, when the range is not in
    // the text.
    bool Replace(int64_t position, int64_t removed, int64_t offset, int64_t length);
    int64_t Length() const { return length; }
    bool UsesBase() const;
    const std::vector<Piece>& List() const { return pieces; }

  private:
    size_t SplitAt(int64_t position);

    std::vector<Piece> pieces;
    int64_t length = 0;
    // Where the last change was: edits come in runs at one place.
    size_t cursor = 0;
    int64_t cursorStart = 0;
};

// Bytes read in order: the count read, 0 at the end, -1 on an error, which
// then says what went wrong.
struct SequentialSource {
    std::function<int64_t(char* buffer, size_t count)> read;
    std::function<FileStatus()> error;
};

// Reads the text the pieces make: journal bytes from a descriptor, base bytes
// from a source read from its start. The base is read to its end, so that a
// reader that checks the file at its end gets to do so, and must hold exactly
// baseLength bytes.
class PieceReader {
  public:
    PieceReader(std::vector<Pieces::Piece> pieces, int journal, SequentialSource base,
                int64_t baseLength);
    int64_t Read(char* buffer, size_t count);
    FileStatus LastError() const { return lastError; }

  private:
    int64_t ReadBase(char* buffer, size_t count);
    bool SkipBaseTo(int64_t offset);
    bool FinishBase();

    std::vector<Pieces::Piece> pieces;
    int journal;
    SequentialSource base;
    int64_t baseLength;
    size_t piece = 0;
    int64_t inPiece = 0;
    int64_t basePosition = 0;
    bool finished = false;
    FileStatus lastError;
};

} // namespace journalrecords
