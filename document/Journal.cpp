// The journal's writer thread, its files and locks, and the reading of
// journals left by processes that have ended.
#include "document/Journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using journalrecords::Pieces;
using savesteps::Failure;
using savesteps::FileDescriptor;
using savesteps::NewFile;

namespace {

constexpr char suffix[] = ".journal";
// No text grows past this; a record that says otherwise is damaged.
constexpr int64_t longestText = int64_t(1) << 40;
constexpr size_t copyBlock = size_t(1) << 20;

int64_t Now() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The start of the names of a document's journals: a hash of its path (FNV-1a,
// 64 bits), or "untitled".
std::string NameStem(const std::string& path) {
    if (path.empty())
        return std::string("untitled") + suffix;
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : path) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text + std::string(suffix);
}

bool IsNameOf(const std::string& name, const std::string& stem) {
    return name == stem || (name.size() > stem.size() + 1 &&
                            name.compare(0, stem.size(), stem) == 0 && name[stem.size()] == '-');
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int Duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Writes bytes from an offset on, small pieces gathered in a buffer.
class Appender {
  public:
    Appender(int fd, int64_t offset) : fd(fd), offset(offset) {}

    bool Put(const char* data, size_t size) {
        if (buffer.size() + size <= copyBlock) {
            buffer.append(data, size);
            return true;
        }
        return Finish() && WriteOut(data, size);
    }
    bool Put(const std::string& bytes) { return Put(bytes.data(), bytes.size()); }
    bool Finish() {
        const bool written = WriteOut(buffer.data(), buffer.size());
        buffer.clear();
        return written;
    }
    // Where the next byte goes.
    int64_t Offset() const { return offset + int64_t(buffer.size()); }

  private:
    bool WriteOut(const char* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::pwrite(fd, data, size, offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (n == 0)
                    errno = ENOSPC;
                return false;
            }
            data += n;
            size -= size_t(n);
            offset += n;
        }
        return true;
    }

    int fd;
    int64_t offset;
    std::string buffer;
};

// Reads a journal from an offset on, through a buffer.
class Scanner {
  public:
    Scanner(int fd, int64_t offset) : fd(fd), offset(offset), buffer(copyBlock) {}

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

// Creates the folders of path that are missing, for their owner alone, and
// opens the last, which must belong to this user; one that others may enter
// is closed to them.
FileStatus OpenOwnFolder(const std::string& path, FileDescriptor& folder) {
    if (path.empty() || path[0] != '/')
        return FileStatus{"There is no home folder to keep it in."};
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return FileStatus{"Could not make the folder \"" + part +
                              "\": " + std::strerror(errno)};
        if (slash == std::string::npos)
            break;
    }
    folder.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (folder.Get() < 0 || ::fstat(folder.Get(), &st) != 0)
        return Failure(errno);
    if (st.st_uid != ::geteuid())
        return FileStatus{"The folder \"" + path + "\" belongs to another user."};
    if ((st.st_mode & 077) != 0 && ::fchmod(folder.Get(), 0700) != 0)
        return Failure(errno);
    return FileStatus{};
}

} // namespace

std::string JournalFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/varne";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.local/state/varne";
}

// ---------------------------------------------------------------------------

struct Journal::Batch {
    struct Edit {
        int64_t position;
        int64_t removed;
        int64_t length;
    };
    std::vector<Edit> edits;
    std::string bytes; // the edits' inserted bytes one after another, or the snapshot
    bool snapshot = false;
    int64_t began = 0;
    int64_t time = 0;
    uint64_t number = 0;

    bool Empty() const { return edits.empty() && !snapshot; }
};

struct Journal::Command {
    enum class Type { begin, batch, remove, adopt, retire } type;
    JournalBase base;
    Batch batch;
    std::unique_ptr<KeptJournal> kept;
};

// Everything the writer thread owns: the journal file, its lock, and the
// pieces of the text it describes.
class Journal::Writer {
  public:
    explicit Writer(Journal& journal) : journal(journal) {}

    void Execute(Command& command) {
        switch (command.type) {
        case Command::Type::begin:
            Begin(command.base);
            break;
        case Command::Type::batch:
            Write(std::move(command.batch));
            break;
        case Command::Type::remove:
            Remove();
            break;
        case Command::Type::adopt:
            Adopt(std::move(command.kept));
            break;
        case Command::Type::retire:
            // A kept journal goes only once its text is safe in this one.
            if (unwritten.empty() && file.Get() >= 0)
                command.kept->Remove();
            break;
        }
    }

  private:
    const Settings& Configured() const { return journal.settings; }

    void Begin(const JournalBase& newBase) {
        file.Reset(-1);
        name.clear();
        unwritten.clear();
        base = newBase;
        header = journalrecords::Header{base.path, base.file, base.length, 0};
        pieces.Start(Pieces::Source::base, 0, base.length);
        recordBytes = 0;
        compactAt = Configured().compactAt;
        copyDeferred = false;
    }

    void Remove() {
        unwritten.clear();
        if (file.Get() >= 0)
            ::unlinkat(folder.Get(), name.c_str(), 0); // still locked: nobody else reads it
        file.Reset(-1);
        name.clear();
        Begin(JournalBase{});
    }

    void Adopt(std::unique_ptr<KeptJournal> kept) {
        Begin(JournalBase{kept->header.path, kept->header.file, kept->header.baseLength});
        header = kept->header;
        folder.Reset(Duplicate(kept->folder.Get()));
        file.Reset(Duplicate(kept->file.Get()));
        if (folder.Get() < 0 || file.Get() < 0) {
            Report(Failure(errno));
            return;
        }
        name = kept->name;
        end = kept->end;
        pieces = kept->pieces;
        recordBytes = kept->recordBytes;
        lastTime = kept->lastChange;
        // Whatever a torn write left after the last whole batch goes, so
        // that new batches follow that one.
        if (::ftruncate(file.Get(), end) != 0 || ::fsync(file.Get()) != 0)
            Report(Failure(errno));
        if (pieces.UsesBase())
            Rebase();
    }

    void Write(Batch batch) {
        unwritten.push_back(std::move(batch));
        while (!unwritten.empty()) {
            const FileStatus status =
                file.Get() < 0 ? Create(unwritten.front()) : Append(unwritten.front());
            if (!status.Ok()) {
                Report(status);
                return;
            }
            failing = false;
            if (Configured().committed)
                Configured().committed(unwritten.front().number);
            unwritten.erase(unwritten.begin());
        }
        // Copying the file the changes were made to, or compacting, is done
        // once the changes themselves are safe.
        if ((pieces.UsesBase() && !copyDeferred) ||
            recordBytes > std::max(compactAt, pieces.Length()))
            Rebase();
    }

    // The records of a batch and its commit, from out's offset on. Sets
    // offsets to where each edit's bytes, or the snapshot, lie.
    static bool Encode(Appender& out, const Batch& batch, std::vector<int64_t>& offsets) {
        using namespace journalrecords;
        char fields[editFields];
        auto record = [&](size_t fieldSize, const char* bytes, int64_t length) {
            uint32_t checksum = Checksum(fields, fieldSize);
            checksum = Checksum(checksum, bytes, size_t(length));
            char sum[checksumSize];
            PutInteger(sum, checksum, checksumSize);
            const bool put = out.Put(fields, fieldSize);
            offsets.push_back(out.Offset());
            return put && out.Put(bytes, size_t(length)) && out.Put(sum, checksumSize);
        };
        if (batch.snapshot) {
            fields[0] = char(snapshotRecord);
            PutInteger(fields + 1, batch.bytes.size(), 8);
            if (!record(snapshotFields, batch.bytes.data(), int64_t(batch.bytes.size())))
                return false;
        } else {
            const char* bytes = batch.bytes.data();
            for (const Batch::Edit& edit : batch.edits) {
                fields[0] = char(editRecord);
                PutInteger(fields + 1, uint64_t(edit.position), 8);
                PutInteger(fields + 9, uint64_t(edit.removed), 8);
                PutInteger(fields + 17, uint64_t(edit.length), 8);
                if (!record(editFields, bytes, edit.length))
                    return false;
                bytes += edit.length;
            }
        }
        fields[0] = char(commitRecord);
        PutInteger(fields + 1, uint64_t(batch.time), 8);
        char sum[checksumSize];
        PutInteger(sum, Checksum(fields, commitFields), checksumSize);
        return out.Put(fields, commitFields) && out.Put(sum, checksumSize) && out.Finish();
    }

    // Follows a batch now on disk in the pieces. A change that does not fit
    // the text would make the journal unreadable from here on: a snapshot
    // from the app sets it right.
    void Apply(const Batch& batch, const std::vector<int64_t>& offsets) {
        lastTime = batch.time;
        if (batch.snapshot) {
            pieces.Start(Pieces::Source::journal, offsets.front(), int64_t(batch.bytes.size()));
            recordBytes = 0;
            return;
        }
        for (size_t i = 0; i < batch.edits.size(); ++i) {
            const Batch::Edit& edit = batch.edits[i];
            if (!pieces.Replace(edit.position, edit.removed, offsets[i], edit.length)) {
                WantSnapshot();
                return;
            }
        }
    }

    FileStatus Create(const Batch& first) {
        if (folder.Get() < 0) {
            const FileStatus opened = OpenOwnFolder(Configured().folder, folder);
            if (!opened.Ok())
                return opened;
        }
        header.began = first.began;
        NewFile next;
        if (!next.Create(folder.Get()))
            return Failure(errno);
        Appender out(next.Get(), 0);
        std::vector<int64_t> offsets;
        const std::string encoded = journalrecords::EncodeHeader(header);
        if (!out.Put(encoded) || !Encode(out, first, offsets))
            return Failure(errno);
        std::string linked;
        FileStatus status = Publish(next, [&] {
            return savesteps::LinkUnderFreeName(next, NameStem(base.path), "", linked);
        });
        if (!status.Ok())
            return status;
        name = linked;
        end = out.Offset();
        recordBytes = end - int64_t(encoded.size());
        Apply(first, offsets);
        return status;
    }

    FileStatus Append(const Batch& batch) {
        Appender out(file.Get(), end);
        std::vector<int64_t> offsets;
        if (!Encode(out, batch, offsets) || ::fdatasync(file.Get()) != 0) {
            const FileStatus status = Failure(errno);
            // A later batch must follow the last whole one, not a torn one.
            (void)!::ftruncate(file.Get(), end);
            return status;
        }
        recordBytes += out.Offset() - end;
        end = out.Offset();
        Apply(batch, offsets);
        return FileStatus{};
    }

    // Flushes a new journal file, locks it and gives it its name; it then
    // takes the place of the one written so far.
    template <typename Naming> FileStatus Publish(NewFile& next, Naming giveName) {
        FileStatus status = next.Flush();
        if (!status.Ok())
            return status;
        if (::flock(next.Get(), LOCK_EX | LOCK_NB) != 0 || !giveName())
            return Failure(errno);
        status = savesteps::FlushFolder(folder.Get());
        file.Reset(Duplicate(next.Get()));
        return status;
    }

    // The text as it stands, as the snapshot of a fresh journal that replaces
    // this one. Bytes still in the file the changes were made to are read
    // from it, checked to be the file the journal began with; when it is no
    // longer, the app is asked for the text instead.
    void Rebase() {
        FileDescriptor baseFile;
        journalrecords::SequentialSource source;
        if (pieces.UsesBase()) {
            if (!OpenBase(baseFile)) {
                WantSnapshot();
                return;
            }
            source.read = [fd = baseFile.Get()](char* buffer, size_t count) -> int64_t {
                ssize_t n;
                do
                    n = ::read(fd, buffer, count);
                while (n < 0 && errno == EINTR);
                return n;
            };
        }
        bool baseLost = false;
        const FileStatus status = WriteSnapshot(baseFile.Get(), source, baseLost);
        if (baseLost)
            WantSnapshot();
        else if (!status.Ok())
            Report(status);
        // A copy or a compaction that failed for want of room is tried again
        // once the records have grown as much again.
        if (!status.Ok() && !baseLost) {
            copyDeferred = true;
            compactAt = std::max(compactAt, recordBytes) * 2;
        }
    }

    FileStatus WriteSnapshot(int baseFile, const journalrecords::SequentialSource& source,
                             bool& baseLost) {
        using namespace journalrecords;
        NewFile next;
        if (!next.Create(folder.Get()))
            return Failure(errno);
        Appender out(next.Get(), 0);
        char fields[snapshotFields];
        fields[0] = char(snapshotRecord);
        PutInteger(fields + 1, uint64_t(pieces.Length()), 8);
        uint32_t checksum = Checksum(fields, snapshotFields);
        if (!out.Put(EncodeHeader(header)) || !out.Put(fields, snapshotFields))
            return Failure(errno);
        const int64_t snapshotAt = out.Offset();
        PieceReader text(pieces.List(), file.Get(), source, base.length);
        std::vector<char> block(copyBlock);
        for (;;) {
            const int64_t n = text.Read(block.data(), block.size());
            if (n < 0) {
                baseLost = baseFile >= 0;
                return text.LastError();
            }
            if (n == 0)
                break;
            checksum = Checksum(checksum, block.data(), size_t(n));
            if (!out.Put(block.data(), size_t(n)))
                return Failure(errno);
        }
        FileIdentity after;
        if (baseFile >= 0 && (!IdentifyDescriptor(baseFile, after) || after != *base.file)) {
            baseLost = true;
            return FileStatus{"The file changed while it was copied."};
        }
        char sum[checksumSize];
        PutInteger(sum, checksum, checksumSize);
        if (!out.Put(sum, checksumSize))
            return Failure(errno);
        char commit[commitFields + checksumSize];
        commit[0] = char(commitRecord);
        PutInteger(commit + 1, uint64_t(lastTime), 8);
        PutInteger(commit + commitFields, Checksum(commit, commitFields), checksumSize);
        if (!out.Put(commit, sizeof commit) || !out.Finish())
            return Failure(errno);
        const FileStatus status = Publish(next, [&] { return next.Replace(name); });
        if (!status.Ok())
            return status;
        end = out.Offset();
        pieces.Start(Pieces::Source::journal, snapshotAt, pieces.Length());
        recordBytes = 0;
        return status;
    }

    // The file the changes were made to, if it still is the one the journal
    // began with.
    bool OpenBase(FileDescriptor& baseFile) {
        FileIdentity now;
        if (base.path.empty() || !base.file || base.file->size != base.length)
            return false;
        baseFile.Reset(::open(base.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        return baseFile.Get() >= 0 && IdentifyDescriptor(baseFile.Get(), now) && now == *base.file;
    }

    void WantSnapshot() {
        if (!journal.snapshotWanted.exchange(true) && Configured().snapshotWanted)
            Configured().snapshotWanted();
    }

    void Report(const FileStatus& status) {
        if (failing)
            return;
        failing = true;
        if (Configured().failed)
            Configured().failed(status.reason);
    }

    Journal& journal;
    FileDescriptor folder;
    JournalBase base;
    journalrecords::Header header;
    FileDescriptor file; // locked while it is open
    std::string name;
    int64_t end = 0;
    int64_t lastTime = 0;
    Pieces pieces;
    int64_t recordBytes = 0;
    int64_t compactAt = 0;
    std::vector<Batch> unwritten;
    bool copyDeferred = false;
    bool failing = false;
};

namespace {

Journal::Settings WithFolder(Journal::Settings settings) {
    if (settings.folder.empty())
        settings.folder = JournalFolder();
    return settings;
}

} // namespace

struct Journal::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Command> queue;
    bool busy = false;
    bool stopping = false;
    std::unique_ptr<Writer> writer;
    std::thread thread; // last, so that it starts once everything else exists
};

Journal::Journal(Settings settings)
    : settings(WithFolder(std::move(settings))), owner(::getpid()),
      pending(std::make_unique<Batch>()), shared(new Shared) {
    shared->writer = std::make_unique<Writer>(*this);
    shared->thread = std::thread([this] { Run(); });
}

// A forked child has a copy of the writer's state but not its thread; it
// leaves the state as it is rather than wait for a thread that is not there.
Journal::~Journal() {
    if (!InOwnProcess()) {
        (void)shared.release();
        return;
    }
    Flush();
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->stopping = true;
    }
    shared->wake.notify_all();
    shared->thread.join();
}

void Journal::Run() {
    Shared& s = *shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return !s.queue.empty() || s.stopping; });
        if (s.queue.empty())
            return;
        Command command = std::move(s.queue.front());
        s.queue.pop_front();
        s.busy = true;
        lock.unlock();
        s.writer->Execute(command);
        command = Command{};
        lock.lock();
        s.busy = false;
        if (s.queue.empty())
            s.idle.notify_all();
    }
}

bool Journal::InOwnProcess() const {
    return ::getpid() == owner;
}

void Journal::Push(Command command) {
    if (!InOwnProcess())
        return;
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->queue.push_back(std::move(command));
    }
    shared->wake.notify_one();
}

void Journal::Begin(const JournalBase& base) {
    *pending = Batch{};
    began = 0;
    snapshotWanted = false;
    Push(Command{Command::Type::begin, base, {}, nullptr});
}

void Journal::Change(int64_t position, int64_t removed, int64_t length, const JournalFiller& fill) {
    if (began == 0)
        began = Now();
    pending->edits.push_back({position, removed, length});
    if (length > 0) {
        std::string& bytes = pending->bytes;
        const size_t old = bytes.size();
        bytes.resize(old + size_t(length) + 1);
        fill(bytes.data() + old, length);
        bytes.resize(old + size_t(length));
    }
}

void Journal::Snapshot(int64_t length, const JournalFiller& fill) {
    if (began == 0)
        began = Now();
    *pending = Batch{};
    pending->snapshot = true;
    pending->bytes.resize(size_t(length) + 1);
    fill(pending->bytes.data(), length);
    pending->bytes.resize(size_t(length));
    snapshotWanted = false;
}

bool Journal::Unflushed() const {
    return !pending->Empty();
}

void Journal::Flush() {
    if (pending->Empty())
        return;
    pending->began = began;
    pending->time = Now();
    pending->number = ++batches;
    if (settings.handingOver)
        settings.handingOver(pending->number);
    Command command{Command::Type::batch, {}, std::move(*pending), nullptr};
    *pending = Batch{};
    Push(std::move(command));
}

bool Journal::WaitUntilWritten(int milliseconds) {
    if (!InOwnProcess())
        return true;
    Shared& s = *shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.idle.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [&s] { return s.queue.empty() && !s.busy; });
}

void Journal::Remove() {
    *pending = Batch{};
    began = 0;
    Push(Command{Command::Type::remove, {}, {}, nullptr});
}

void Journal::Adopt(std::unique_ptr<KeptJournal> kept) {
    *pending = Batch{};
    began = kept->Began();
    Push(Command{Command::Type::adopt, {}, {}, std::move(kept)});
}

void Journal::Retire(std::unique_ptr<KeptJournal> kept) {
    Push(Command{Command::Type::retire, {}, {}, std::move(kept)});
}

// ---------------------------------------------------------------------------

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
    folder.Reset(Duplicate(inFolder));
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
    const std::string stem = NameStem(path);
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(Duplicate(folder.Get()))) {
        while (const dirent* entry = ::readdir(listing)) {
            if (IsNameOf(entry->d_name, stem))
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
