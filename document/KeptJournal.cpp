// Journals left by processes that have ended: found by their document's
// path, locked, and read to their last whole batch.
#include "document/Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using journalrecords::Pieces;
using savesteps::FileDescriptor;

namespace {

// No text grows past this; a record that says otherwise is damaged.
constexpr int64_t longestText = int64_t(1) << 40;

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Reads a journal from an offset on, through a buffer.
class Scanner {
  public:
    Scanner(int fd, int64_t offset) : fd(fd), offset(offset), buffer(size_t(1) << 20) {}

    // Exactly size bytes, or false.
    bool Get(char* out, size_t size) {
        while (size > 0) {
            if (position == filled && !Fill())
                return false;
            const size_t n = std::min(size, filled - position);
            std::memcpy(out, buffer.data() + position, n);
            position += n;
            size -= n;
            out += n;
        }
        return true;
    }
    // Passes over size bytes, adding them to a checksum.
    bool Checksum(int64_t size, uint32_t& checksum) {
        while (size > 0) {
            if (position == filled && !Fill())
                return false;
            const size_t n = size_t(std::min<int64_t>(size, int64_t(filled - position)));
            checksum = journalrecords::Checksum(checksum, buffer.data() + position, n);
            position += n;
            size -= int64_t(n);
        }
        return true;
    }
    int64_t Offset() const { return offset - int64_t(filled - position); }

  private:
    bool Fill() {
        ssize_t n;
        do
            n = ::pread(fd, buffer.data(), buffer.size(), offset);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        offset += n;
        position = 0;
        filled = size_t(n);
        return true;
    }

    int fd;
    int64_t offset;
    std::vector<char> buffer;
    size_t position = 0;
    size_t filled = 0;
};

} // namespace

KeptJournal::~KeptJournal() = default;

void KeptJournal::Remove() {
    if (file.Get() >= 0)
        ::unlinkat(folder.Get(), name.c_str(), 0);
    file.Reset(-1);
}

void KeptJournal::StartReading(journalrecords::SequentialSource base) {
    reader = std::make_unique<journalrecords::PieceReader>(pieces.List(), file.Get(),
                                                           std::move(base), header.baseLength);
}

int64_t KeptJournal::Read(char* buffer, size_t count) {
    return reader ? reader->Read(buffer, count) : -1;
}

FileStatus KeptJournal::LastError() const {
    return reader ? reader->LastError() : FileStatus{"Nothing is being read."};
}

// Only a journal nobody holds is opened: the lock is taken without waiting,
// and must be on the file that still has the name (a writer that compacts
// puts a new file in its place).
bool KeptJournal::Open(int inFolder, const std::string& fileName) {
    folder.Reset(journalrecords::DuplicateDescriptor(inFolder));
    name = fileName;
    file.Reset(
        ::openat(inFolder, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened, named;
    if (file.Get() < 0 || ::fstat(file.Get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_uid != ::geteuid() || ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 ||
        ::fstatat(inFolder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(opened, named))
        return false;
    return ReadRecords();
}

// Reads the records to the last commit that is whole and whose every record
// has a sound checksum and fits the text, then follows them in the pieces.
// Anything after that was cut short by the end of the process.
bool KeptJournal::ReadRecords() {
    using namespace journalrecords;
    std::vector<char> start(longestHeader);
    const ssize_t got = ::pread(file.Get(), start.data(), start.size(), 0);
    const size_t headerSize = got > 0 ? DecodeHeader(start.data(), size_t(got), header) : 0;
    if (headerSize == 0)
        return false; // not a journal this program can read: left as it is

    struct Record {
        RecordType type;
        int64_t position, removed, length, offset;
    };
    std::vector<Record> records;
    size_t committed = 0;
    int64_t length = header.baseLength;
    Scanner scan(file.Get(), int64_t(headerSize));
    end = int64_t(headerSize);
    for (;;) {
        char fields[editFields];
        if (!scan.Get(fields, 1))
            break;
        const auto type = RecordType(static_cast<unsigned char>(fields[0]));
        const size_t fieldSize = type == editRecord       ? editFields
                                 : type == snapshotRecord ? snapshotFields
                                 : type == commitRecord   ? commitFields
                                                          : 0;
        if (fieldSize == 0 || !scan.Get(fields + 1, fieldSize - 1))
            break;
        Record record{type, 0, 0, 0, 0};
        if (type == editRecord) {
            record.position = int64_t(GetInteger(fields + 1, 8));
            record.removed = int64_t(GetInteger(fields + 9, 8));
            record.length = int64_t(GetInteger(fields + 17, 8));
            if (record.position < 0 || record.removed < 0 || record.length < 0 ||
                record.length > longestText || record.position > length ||
                record.removed > length - record.position)
                break;
        } else if (type == snapshotRecord) {
            record.length = int64_t(GetInteger(fields + 1, 8));
            if (record.length < 0 || record.length > longestText)
                break;
        }
        record.offset = scan.Offset();
        uint32_t checksum = Checksum(fields, fieldSize);
        char sum[checksumSize];
        if (!scan.Checksum(record.length, checksum) || !scan.Get(sum, checksumSize) ||
            GetInteger(sum, checksumSize) != checksum)
            break;
        if (type == commitRecord) {
            committed = records.size();
            end = scan.Offset();
            lastChange = int64_t(GetInteger(fields + 1, 8));
            continue;
        }
        length = type == snapshotRecord ? record.length : length - record.removed + record.length;
        if (length > longestText)
            break;
        records.push_back(record);
    }
    if (committed == 0) {
        Remove(); // nothing whole was ever written: nothing to offer
        return false;
    }
    pieces.Start(Pieces::Source::base, 0, header.baseLength);
    int64_t since = int64_t(headerSize);
    for (size_t i = 0; i < committed; ++i) {
        const Record& record = records[i];
        if (record.type == snapshotRecord) {
            pieces.Start(Pieces::Source::journal, record.offset, record.length);
            since = record.offset + record.length;
        } else {
            pieces.Replace(record.position, record.removed, record.offset, record.length);
        }
    }
    recordBytes = end - since;
    return true;
}

std::vector<std::unique_ptr<KeptJournal>> FindKeptJournals(const std::string& folderPath,
                                                           const std::string& path) {
    std::vector<std::unique_ptr<KeptJournal>> found;
    FileDescriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (folder.Get() < 0 || ::fstat(folder.Get(), &st) != 0 || st.st_uid != ::geteuid())
        return found;
    const std::string stem = journalrecords::JournalNameStem(path);
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(journalrecords::DuplicateDescriptor(folder.Get()))) {
        while (const dirent* entry = ::readdir(listing)) {
            if (journalrecords::IsJournalName(entry->d_name, stem))
                names.push_back(entry->d_name);
        }
        ::closedir(listing);
    }
    for (const std::string& name : names) {
        std::unique_ptr<KeptJournal> kept(new KeptJournal);
        if (kept->Open(folder.Get(), name) && kept->DocumentPath() == path)
            found.push_back(std::move(kept));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a->LastChange() > b->LastChange(); });
    return found;
}
