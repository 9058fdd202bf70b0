// The journal's records and the text they describe.
#include "document/JournalRecords.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace journalrecords {

namespace {

constexpr char magic[8] = {'V', 'A', 'R', 'N', 'E', 'J', 'N', 'L'};
constexpr uint32_t formatVersion = 1;
constexpr size_t fixedHeader = sizeof magic + 2 * 4 + 7 * 8 + 4;
constexpr size_t longestPath = 4096;

FileStatus NotTheBaseText() {
    return FileStatus{"The file no longer holds the text the changes were made to."};
}

FileStatus JournalCutShort() {
    return FileStatus{"The journal is shorter than its records say."};
}

} // namespace

void PutInteger(char* out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = char((value >> (8 * i)) & 0xFF);
}

uint64_t GetInteger(const char* in, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint64_t(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

std::string JournalNameStem(const std::string& path) {
    constexpr char suffix[] = ".journal";
    if (path.empty())
        return std::string("untitled") + suffix;
    uint64_t hash = 14695981039346656037ull; // FNV-1a, 64 bits
    for (const unsigned char byte : path) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text + std::string(suffix);
}

bool IsJournalName(const std::string& name, const std::string& stem) {
    return name == stem || (name.size() > stem.size() + 1 &&
                            name.compare(0, stem.size(), stem) == 0 && name[stem.size()] == '-');
}

int DuplicateDescriptor(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// CRC-32C (Castagnoli), as ext4 and iSCSI use: with the processor's own
// instruction where there is one, about twenty times faster than a table.
namespace {

struct CastagnoliTable {
    uint32_t entries[256];
    CastagnoliTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1)));
            entries[i] = crc;
        }
    }
};

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t Instructions(uint32_t crc, const unsigned char* data,
                                                        size_t size) {
    for (; size >= 8; data += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        crc = uint32_t(_mm_crc32_u64(crc, word));
    }
    for (; size > 0; ++data, --size)
        crc = _mm_crc32_u8(crc, *data);
    return crc;
}

bool HasInstruction() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.2");
}
#endif

} // namespace

uint32_t ChecksumByTable(uint32_t running, const char* data, size_t size) {
    static const CastagnoliTable table;
    uint32_t crc = ~running;
    for (size_t i = 0; i < size; ++i)
        crc = table.entries[(crc ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t Checksum(uint32_t running, const char* data, size_t size) {
#if defined(__x86_64__)
    static const bool hasInstruction = HasInstruction();
    if (hasInstruction)
        return ~Instructions(~running, reinterpret_cast<const unsigned char*>(data), size);
#endif
    return ChecksumByTable(running, data, size);
}

std::string EncodeHeader(const Header& header) {
    std::string out(fixedHeader + header.path.size() + checksumSize, '\0');
    char* p = out.data();
    std::memcpy(p, magic, sizeof magic);
    p += sizeof magic;
    auto put = [&](uint64_t value, int bytes) {
        PutInteger(p, value, bytes);
        p += bytes;
    };
    const FileIdentity file = header.file.value_or(FileIdentity{});
    put(formatVersion, 4);
    put(header.file ? 1 : 0, 4);
    put(uint64_t(header.began), 8);
    put(file.device, 8);
    put(file.inode, 8);
    put(uint64_t(file.size), 8);
    put(uint64_t(file.modifiedSeconds), 8);
    put(uint64_t(file.modifiedNanoseconds), 8);
    put(uint64_t(header.baseLength), 8);
    put(header.path.size(), 4);
    std::memcpy(p, header.path.data(), header.path.size());
    p += header.path.size();
    put(Checksum(out.data(), size_t(p - out.data())), 4);
    return out;
}

size_t DecodeHeader(const char* data, size_t size, Header& header) {
    if (size < fixedHeader || std::memcmp(data, magic, sizeof magic) != 0)
        return 0;
    const char* p = data + sizeof magic;
    auto get = [&](int bytes) {
        const uint64_t value = GetInteger(p, bytes);
        p += bytes;
        return value;
    };
    if (get(4) != formatVersion)
        return 0;
    const bool hasFile = get(4) != 0;
    Header decoded;
    decoded.began = int64_t(get(8));
    FileIdentity file;
    file.device = get(8);
    file.inode = get(8);
    file.size = int64_t(get(8));
    file.modifiedSeconds = int64_t(get(8));
    file.modifiedNanoseconds = int64_t(get(8));
    decoded.baseLength = int64_t(get(8));
    const size_t pathLength = get(4);
    if (pathLength > longestPath || decoded.baseLength < 0)
        return 0;
    const size_t total = fixedHeader + pathLength + checksumSize;
    if (size < total)
        return 0;
    decoded.path.assign(p, pathLength);
    p += pathLength;
    if (GetInteger(p, 4) != Checksum(data, size_t(p - data)))
        return 0;
    if (hasFile)
        decoded.file = file;
    header = std::move(decoded);
    return total;
}

// ---------------------------------------------------------------------------

void Pieces::Start(Source source, int64_t offset, int64_t startLength) {
    pieces.clear();
    if (startLength > 0)
        pieces.push_back({source, offset, startLength});
    length = startLength;
    cursor = 0;
    cursorStart = 0;
}

bool Pieces::UsesBase() const {
    return std::any_of(pieces.begin(), pieces.end(),
                       [](const Piece& piece) { return piece.source == Source::base; });
}

// The index of the piece that starts at position, cutting the piece that
// holds it in two where needed; the number of pieces for the end. The walk
// starts where the last change was.
size_t Pieces::SplitAt(int64_t position) {
    size_t i = cursor;
    int64_t start = cursorStart;
    while (position < start) {
        --i;
        start -= pieces[i].length;
    }
    while (i < pieces.size() && start + pieces[i].length <= position) {
        start += pieces[i].length;
        ++i;
    }
    if (i < pieces.size() && start < position) {
        Piece tail = pieces[i];
        const int64_t head = position - start;
        pieces[i].length = head;
        tail.offset += head;
        tail.length -= head;
        pieces.insert(pieces.begin() + std::ptrdiff_t(i) + 1, tail);
        ++i;
        start = position;
    }
    cursor = i;
    cursorStart = start;
    return i;
}

bool Pieces::Replace(int64_t position, int64_t removed, int64_t offset, int64_t inserted) {
    if (position < 0 || removed < 0 || inserted < 0 || position > length ||
        removed > length - position)
        return false;
    const size_t first = SplitAt(position);
    const size_t last = SplitAt(position + removed);
    pieces.erase(pieces.begin() + std::ptrdiff_t(first), pieces.begin() + std::ptrdiff_t(last));
    if (inserted > 0)
        pieces.insert(pieces.begin() + std::ptrdiff_t(first), {Source::journal, offset, inserted});
    length += inserted - removed;
    cursor = first;
    cursorStart = position;
    return true;
}

// ---------------------------------------------------------------------------

PieceReader::PieceReader(std::vector<Pieces::Piece> pieces, int journal, SequentialSource base,
                         int64_t baseLength)
    : pieces(std::move(pieces)), journal(journal), base(std::move(base)), baseLength(baseLength) {}

int64_t PieceReader::ReadBase(char* buffer, size_t count) {
    if (!base.read) {
        lastError = NotTheBaseText();
        return -1;
    }
    const int64_t n = base.read(buffer, count);
    if (n < 0)
        lastError = base.error ? base.error() : NotTheBaseText();
    else if (n == 0)
        lastError = NotTheBaseText();
    else
        basePosition += n;
    return n > 0 ? n : -1;
}

bool PieceReader::SkipBaseTo(int64_t offset) {
    if (offset < basePosition) {
        lastError = NotTheBaseText(); // base pieces never go back
        return false;
    }
    char scratch[65536];
    while (basePosition < offset) {
        const size_t count = size_t(std::min<int64_t>(offset - basePosition, sizeof scratch));
        if (ReadBase(scratch, count) < 0)
            return false;
    }
    return true;
}

// Whatever the pieces leave out of the base is still read, to its very end.
bool PieceReader::FinishBase() {
    if (!base.read)
        return true;
    if (!SkipBaseTo(baseLength))
        return false;
    char extra;
    const int64_t n = base.read(&extra, 1);
    if (n < 0)
        lastError = base.error ? base.error() : NotTheBaseText();
    else if (n > 0)
        lastError = NotTheBaseText();
    return n == 0;
}

int64_t PieceReader::Read(char* buffer, size_t count) {
    while (piece < pieces.size()) {
        const Pieces::Piece& current = pieces[piece];
        if (inPiece == current.length) {
            ++piece;
            inPiece = 0;
            continue;
        }
        const size_t wanted = size_t(std::min<int64_t>(int64_t(count), current.length - inPiece));
        int64_t n;
        if (current.source == Pieces::Source::journal) {
            do
                n = ::pread(journal, buffer, wanted, current.offset + inPiece);
            while (n < 0 && errno == EINTR);
            if (n < 0)
                lastError = FileStatus{std::strerror(errno)};
            else if (n == 0)
                lastError = JournalCutShort();
            if (n <= 0)
                return -1;
        } else {
            if (!SkipBaseTo(current.offset + inPiece))
                return -1;
            n = ReadBase(buffer, wanted);
            if (n < 0)
                return -1;
        }
        inPiece += n;
        return n;
    }
    if (!finished) {
        if (!FinishBase())
            return -1;
        finished = true;
    }
    return 0;
}

} // namespace journalrecords
