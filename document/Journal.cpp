// The journal's writer thread, its files and its lock.
#include "document/Journal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using journalrecords::Pieces;
using savesteps::Failure;
using savesteps::FileDescriptor;
using savesteps::NewFile;

namespace {

constexpr size_t copyBlock = size_t(1) << 20;
// Blocks of a large insertion on their way to the writer before the app
// waits a little for the writer to catch up.
constexpr int blocksInFlight = 8;

int64_t Now() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Writes bytes from an offset on, small pieces gathered in a buffer, large
// ones a block at a time: the kernel can take ten times as long over one
// write of 100 MiB as over a hundred writes of 1 MiB.
class Appender {
  public:
    Appender(int fd, int64_t offset) : fd(fd), offset(offset) {}

    bool Put(const char* data, size_t size) {
        if (size == 0)
            return true;
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
            const ssize_t n = ::pwrite(fd, data, std::min(size, copyBlock), offset);
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
    uint64_t number = 0; // 0 for a part: records with no commit after them yet

    bool Empty() const { return edits.empty() && !snapshot; }
};

// What the writer is asked to do, in order. A large insertion or snapshot
// comes as streamStart and its bytes as streamBlocks, between parts of the
// batch that holds it; the batch's commit comes last.
struct Journal::Command {
    enum class Type { begin, batch, streamStart, streamBlock, remove, adopt, retire };
    explicit Command(Type type = Type::begin) : type(type) {}

    Type type;
    JournalBase base;
    Batch batch;
    std::unique_ptr<KeptJournal> kept;
    Batch::Edit edit{0, 0, 0}; // streamStart: its length is the bytes to come
    std::unique_ptr<char[]> block;
    size_t count = 0; // the bytes of block
};

struct Journal::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::condition_variable blockFreed;
    std::deque<Command> queue;
    bool busy = false;
    bool stopping = false;
    std::vector<std::unique_ptr<char[]>> freeBlocks;
    int blocksOut = 0;
    std::atomic<bool> streamFailed{false};
    std::unique_ptr<Writer> writer;
    std::thread thread; // last, so that it starts once everything else exists
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
        case Command::Type::streamStart:
            StartStream(command.edit, command.batch.snapshot, command.batch.began);
            break;
        case Command::Type::streamBlock:
            StreamBlock(command.block.get(), command.count);
            journal.ReturnBlock(std::move(command.block));
            break;
        case Command::Type::remove:
            Remove();
            break;
        case Command::Type::adopt:
            Adopt(std::move(command.kept));
            break;
        case Command::Type::retire:
            // A kept journal goes only once its text is safe in this one.
            if (unwritten.empty() && !runFailed && file.Get() >= 0)
                command.kept->Remove();
            break;
        }
    }

  private:
    // A record written since the last commit, followed in the pieces once
    // the commit is on disk.
    struct Written {
        Batch::Edit edit;
        bool snapshot;
        int64_t offset; // of its bytes
    };

    const Settings& Configured() const { return journal.settings; }

    void Begin(const JournalBase& newBase) {
        file.Reset(-1);
        name.clear();
        unwritten.clear();
        EndRun();
        base = newBase;
        header = journalrecords::Header{base.path, base.file, base.length, 0};
        pieces.Start(Pieces::Source::base, 0, base.length);
        recordBytes = 0;
        compactAt = Configured().compactAt;
        copyDeferred = false;
    }

    void Remove() {
        if (file.Get() >= 0)
            ::unlinkat(folder.Get(), name.c_str(), 0); // still locked: nobody else reads it
        Begin(JournalBase{});
    }

    void Adopt(std::unique_ptr<KeptJournal> kept) {
        Begin(JournalBase{kept->header.path, kept->header.file, kept->header.baseLength});
        header = kept->header;
        folder.Reset(journalrecords::DuplicateDescriptor(kept->folder.Get()));
        file.Reset(journalrecords::DuplicateDescriptor(kept->file.Get()));
        if (folder.Get() < 0 || file.Get() < 0) {
            Report(Failure(errno));
            return;
        }
        name = kept->name;
        end = cursor = kept->end;
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

    // A batch that could not be written is kept and tried again with the
    // next; one whose parts went ahead of it cannot be, and the app is asked
    // for the whole text instead.
    void Write(Batch batch) {
        if (batch.snapshot)
            runFailed = false; // the whole text: whatever failed before no longer matters
        if (batch.number == 0) {
            WritePart(batch);
            return;
        }
        if (runFailed || (!run.empty() && !unwritten.empty())) {
            Abandon(Failure(EIO));
            return;
        }
        unwritten.push_back(std::move(batch));
        while (!unwritten.empty()) {
            const FileStatus status = Commit(unwritten.front());
            if (!status.Ok()) {
                if (!run.empty())
                    Abandon(status);
                else
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

    // Records of a batch ahead of a large one, with no commit yet.
    void WritePart(const Batch& part) {
        if (!StartRun(part.began))
            return;
        Appender out(file.Get(), cursor);
        if (!Encode(out, part) || !out.Finish()) {
            Abandon(Failure(errno));
            return;
        }
        cursor = out.Offset();
    }

    void StartStream(const Batch::Edit& edit, bool snapshot, int64_t began) {
        using namespace journalrecords;
        if (snapshot)
            runFailed = false;
        if (!StartRun(began))
            return;
        char fields[editFields];
        const size_t fieldSize = snapshot ? snapshotFields : editFields;
        fields[0] = char(snapshot ? snapshotRecord : editRecord);
        if (snapshot) {
            PutInteger(fields + 1, uint64_t(edit.length), 8);
        } else {
            PutInteger(fields + 1, uint64_t(edit.position), 8);
            PutInteger(fields + 9, uint64_t(edit.removed), 8);
            PutInteger(fields + 17, uint64_t(edit.length), 8);
        }
        Appender out(file.Get(), cursor);
        if (!out.Put(fields, fieldSize) || !out.Finish()) {
            Abandon(Failure(errno));
            return;
        }
        cursor = out.Offset();
        run.push_back({edit, snapshot, cursor});
        streamChecksum = Checksum(fields, fieldSize);
        streamLeft = edit.length;
        FinishStream();
    }

    void StreamBlock(const char* bytes, size_t count) {
        if (runFailed || streamLeft < int64_t(count))
            return;
        streamChecksum = journalrecords::Checksum(streamChecksum, bytes, count);
        Appender out(file.Get(), cursor);
        if (!out.Put(bytes, count) || !out.Finish()) {
            Abandon(Failure(errno));
            return;
        }
        cursor = out.Offset();
        streamLeft -= int64_t(count);
        FinishStream();
    }

    // The checksum after the last block.
    void FinishStream() {
        if (streamLeft > 0)
            return;
        char sum[journalrecords::checksumSize];
        journalrecords::PutInteger(sum, streamChecksum, sizeof sum);
        Appender out(file.Get(), cursor);
        if (!out.Put(sum, sizeof sum) || !out.Finish()) {
            Abandon(Failure(errno));
            return;
        }
        cursor = out.Offset();
    }

    // Records written since the last commit make a run, which a commit ends.
    bool StartRun(int64_t began) {
        if (runFailed)
            return false;
        if (!unwritten.empty()) {
            Abandon(Failure(EIO));
            return false;
        }
        const FileStatus status = EnsureFile(began);
        if (!status.Ok())
            Abandon(status);
        return status.Ok();
    }

    // The run is given up: the file goes back to its last commit, and the
    // text the app has now will come as a snapshot.
    void Abandon(const FileStatus& status) {
        if (file.Get() >= 0)
            (void)!::ftruncate(file.Get(), end);
        unwritten.clear();
        EndRun();
        runFailed = true;
        journal.shared->streamFailed = true;
        journal.snapshotWanted = true;
        Report(status);
    }

    void EndRun() {
        run.clear();
        cursor = end;
        streamLeft = 0;
    }

    // The records of a batch from out's offset on. Adds to the run where
    // each edit's bytes, or the snapshot, lie.
    bool Encode(Appender& out, const Batch& batch) {
        using namespace journalrecords;
        char fields[editFields];
        auto record = [&](size_t fieldSize, const char* bytes, int64_t length) {
            uint32_t checksum = Checksum(fields, fieldSize);
            checksum = Checksum(checksum, bytes, size_t(length));
            char sum[checksumSize];
            PutInteger(sum, checksum, checksumSize);
            const bool put = out.Put(fields, fieldSize);
            return put && out.Put(bytes, size_t(length)) && out.Put(sum, checksumSize);
        };
        if (batch.snapshot) {
            fields[0] = char(snapshotRecord);
            PutInteger(fields + 1, batch.bytes.size(), 8);
            const Batch::Edit whole{0, 0, int64_t(batch.bytes.size())};
            run.push_back({whole, true, out.Offset() + int64_t(snapshotFields)});
            return record(snapshotFields, batch.bytes.data(), whole.length);
        }
        const char* bytes = batch.bytes.data();
        for (const Batch::Edit& edit : batch.edits) {
            fields[0] = char(editRecord);
            PutInteger(fields + 1, uint64_t(edit.position), 8);
            PutInteger(fields + 9, uint64_t(edit.removed), 8);
            PutInteger(fields + 17, uint64_t(edit.length), 8);
            run.push_back({edit, false, out.Offset() + int64_t(editFields)});
            if (!record(editFields, bytes, edit.length))
                return false;
            bytes += edit.length;
        }
        return true;
    }

    // Writes the batch's records and its commit after the run, flushes them,
    // and follows the whole run in the pieces.
    FileStatus Commit(const Batch& batch) {
        using namespace journalrecords;
        FileStatus status = EnsureFile(batch.began);
        if (!status.Ok())
            return status;
        const size_t before = run.size();
        Appender out(file.Get(), cursor);
        char commit[commitFields + checksumSize];
        commit[0] = char(commitRecord);
        PutInteger(commit + 1, uint64_t(batch.time), 8);
        PutInteger(commit + commitFields, Checksum(commit, commitFields), checksumSize);
        if (!Encode(out, batch) || !out.Put(commit, sizeof commit) || !out.Finish() ||
            ::fdatasync(file.Get()) != 0) {
            status = Failure(errno);
            // A later batch must follow the last whole one, not a torn one.
            (void)!::ftruncate(file.Get(), end);
            run.resize(before);
            return status;
        }
        recordBytes += out.Offset() - end;
        end = out.Offset();
        lastTime = batch.time;
        for (const Written& written : run)
            Follow(written);
        EndRun();
        return status;
    }

    // A change that does not fit the text would make the journal unreadable
    // from here on: a snapshot from the app sets it right.
    void Follow(const Written& written) {
        if (written.snapshot) {
            pieces.Start(Pieces::Source::journal, written.offset, written.edit.length);
            recordBytes = 0;
        } else if (!pieces.Replace(written.edit.position, written.edit.removed, written.offset,
                                   written.edit.length)) {
            WantSnapshot();
        }
    }

    // The journal's file, with its header, created and named at its first
    // batch.
    FileStatus EnsureFile(int64_t began) {
        if (file.Get() >= 0)
            return FileStatus{};
        if (folder.Get() < 0) {
            const FileStatus opened = OpenOwnFolder(Configured().folder, folder);
            if (!opened.Ok())
                return opened;
        }
        header.began = began;
        NewFile next;
        if (!next.Create(folder.Get()))
            return Failure(errno);
        Appender out(next.Get(), 0);
        if (!out.Put(journalrecords::EncodeHeader(header)) || !out.Finish())
            return Failure(errno);
        std::string linked;
        const FileStatus status = Publish(next, [&] {
            return savesteps::LinkUnderFreeName(next, journalrecords::JournalNameStem(base.path),
                                                "", linked);
        });
        if (!status.Ok())
            return status;
        name = linked;
        end = cursor = out.Offset();
        recordBytes = 0;
        return status;
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
        file.Reset(journalrecords::DuplicateDescriptor(next.Get()));
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
        if (baseLost) {
            WantSnapshot();
        } else if (!status.Ok()) {
            // A copy or a compaction that failed for want of room is tried
            // again once the records have grown as much again.
            Report(status);
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
        char commit[commitFields + checksumSize];
        commit[0] = char(commitRecord);
        PutInteger(commit + 1, uint64_t(lastTime), 8);
        PutInteger(commit + commitFields, Checksum(commit, commitFields), checksumSize);
        if (!out.Put(sum, sizeof sum) || !out.Put(commit, sizeof commit) || !out.Finish())
            return Failure(errno);
        const FileStatus status = Publish(next, [&] { return next.Replace(name); });
        if (!status.Ok())
            return status;
        end = cursor = out.Offset();
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
    int64_t end = 0;    // of the last commit
    int64_t cursor = 0; // where the run goes on
    int64_t lastTime = 0;
    Pieces pieces;
    int64_t recordBytes = 0;
    int64_t compactAt = 0;
    std::vector<Batch> unwritten;
    std::vector<Written> run;
    bool runFailed = false; // until the app's snapshot has come
    uint32_t streamChecksum = 0;
    int64_t streamLeft = 0;
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
    runOpen = false;
    snapshotWanted = false;
    Command command(Command::Type::begin);
    command.base = base;
    Push(std::move(command));
}

void Journal::Change(int64_t position, int64_t removed, int64_t length, const JournalFiller& fill) {
    if (began == 0)
        began = Now();
    if (length >= settings.streamAt) {
        Stream(position, removed, length, false, fill);
        return;
    }
    pending->edits.push_back({position, removed, length});
    if (length > 0) {
        std::string& bytes = pending->bytes;
        const size_t old = bytes.size();
        bytes.resize(old + size_t(length) + 1);
        fill(bytes.data() + old, 0, length);
        bytes.resize(old + size_t(length));
    }
}

void Journal::Snapshot(int64_t length, const JournalFiller& fill) {
    if (began == 0)
        began = Now();
    *pending = Batch{};
    snapshotWanted = false;
    if (length >= settings.streamAt) {
        Stream(0, 0, length, true, fill);
        return;
    }
    pending->snapshot = true;
    pending->bytes.resize(size_t(length) + 1);
    fill(pending->bytes.data(), 0, length);
    pending->bytes.resize(size_t(length));
}

// The changes so far go ahead, with no commit, and then the large one a
// block at a time as the app reads it, while the writer writes the blocks
// before: it is never copied whole. Should the writer fall far behind, the
// app waits a little for it, never long.
void Journal::Stream(int64_t position, int64_t removed, int64_t length, bool snapshot,
                     const JournalFiller& fill) {
    shared->streamFailed = false;
    if (!pending->Empty()) {
        pending->began = began;
        Command part(Command::Type::batch);
        part.batch = std::move(*pending);
        *pending = Batch{};
        Push(std::move(part));
    }
    runOpen = true;
    Command start(Command::Type::streamStart);
    start.edit = {position, removed, length};
    start.batch.snapshot = snapshot;
    start.batch.began = began;
    Push(std::move(start));
    for (int64_t offset = 0; offset < length && !shared->streamFailed;) {
        const size_t count = size_t(std::min<int64_t>(length - offset, int64_t(copyBlock)));
        std::unique_ptr<char[]> block = TakeBlock();
        fill(block.get(), offset, int64_t(count));
        Command next(Command::Type::streamBlock);
        next.block = std::move(block);
        next.count = count;
        Push(std::move(next));
        offset += int64_t(count);
    }
}

std::unique_ptr<char[]> Journal::TakeBlock() {
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (shared->freeBlocks.empty() && shared->blocksOut >= blocksInFlight)
        shared->blockFreed.wait_for(lock, std::chrono::milliseconds(50),
                                    [this] { return !shared->freeBlocks.empty(); });
    ++shared->blocksOut;
    if (shared->freeBlocks.empty())
        return std::unique_ptr<char[]>(new char[copyBlock + 1]);
    std::unique_ptr<char[]> block = std::move(shared->freeBlocks.back());
    shared->freeBlocks.pop_back();
    return block;
}

void Journal::ReturnBlock(std::unique_ptr<char[]> block) {
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        --shared->blocksOut;
        if (shared->freeBlocks.size() < size_t(blocksInFlight))
            shared->freeBlocks.push_back(std::move(block));
    }
    shared->blockFreed.notify_one();
}

bool Journal::Unflushed() const {
    return !pending->Empty() || runOpen;
}

// A forked child (a test's death test) hands nothing over: the writer thread
// is not there, and its mutex may have been copied locked.
void Journal::Flush() {
    if (!Unflushed() || !InOwnProcess())
        return;
    pending->began = began;
    pending->time = Now();
    pending->number = ++batches;
    if (settings.handingOver)
        settings.handingOver(pending->number);
    Command command(Command::Type::batch);
    command.batch = std::move(*pending);
    *pending = Batch{};
    runOpen = false;
    Push(std::move(command));
    const std::lock_guard<std::mutex> lock(shared->mutex);
    shared->freeBlocks.clear(); // the blocks of a large change are not kept
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
    runOpen = false;
    Push(Command(Command::Type::remove));
}

void Journal::Adopt(std::unique_ptr<KeptJournal> kept) {
    *pending = Batch{};
    began = kept->Began();
    runOpen = false;
    Command command(Command::Type::adopt);
    command.kept = std::move(kept);
    Push(std::move(command));
}

void Journal::Retire(std::unique_ptr<KeptJournal> kept) {
    Command command(Command::Type::retire);
    command.kept = std::move(kept);
    Push(std::move(command));
}
