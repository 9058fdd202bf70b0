// A journal of a document's unsaved changes on disk, from which the text is
// rebuilt exactly when the process ended without a chance to keep anything:
// SIGKILL, the out-of-memory killer, a crash, a power cut, or the display
// server gone on Wayland, where Qt ends the process with _exit.
//
// What it promises:
// - A change costs its position, the length removed and the bytes inserted,
//   never a copy of the document. The changes handed over by Flush() are
//   written and flushed to disk by a thread of the journal's own; the caller
//   never waits for the disk.
// - Whatever ends the process, the text can be rebuilt as it was at the last
//   flush that reached the disk, byte for byte, and never as a mix of two:
//   each record carries a checksum, a flush is one batch of records closed by
//   a commit record, and a batch cut short counts as never written.
// - The journal holds its text without the file it was made to: once its
//   first batch is on disk, the file's bytes are copied into it (a
//   snapshot), and when the records grow past the size of the text they are
//   compacted into a fresh one. Either way the new journal replaces the old
//   one in a single rename, so there is never a moment with neither whole.
//   Until the copy is done the journal needs the file, unchanged.
// - Journals live in a folder of their own, for their owner alone (0700,
//   files 0600), never beside the document, named from a hash of the
//   document's path; the path itself is inside. A journal being written is
//   locked (flock) by its writer: one that nobody holds belongs to a process
//   that has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/FileAccess.h"
#include "document/JournalRecords.h"
#include "document/SaveSteps.h"

// Where journals are kept: $XDG_STATE_HOME/varne, else ~/.local/state/varne.
std::string JournalFolder();

// What a journal's changes are made to: the file as it was read or last
// saved, or the empty untitled document.
struct JournalBase {
    std::string path;                 // empty for an untitled document
    std::optional<FileIdentity> file; // the file at path, when known
    int64_t length = 0;               // the text's length at the start
};

// Fills a buffer with count bytes of a change's text, from offset within it;
// there is room for one byte more (the component writes a NUL after a range).
using JournalFiller = std::function<void(char* into, int64_t offset, int64_t count)>;

class KeptJournal;

class Journal {
  public:
    struct Settings {
        std::string folder; // JournalFolder() when empty
        // How soon after a change the app flushes; the journal itself never
        // waits.
        int flushMilliseconds = 1000;
        // Records past this many bytes (or past the text's size, if larger)
        // are compacted into a snapshot.
        int64_t compactAt = int64_t(16) << 20;
        // Insertions and snapshots this large go to the writer a block at a
        // time as they are read, never copied whole.
        int64_t streamAt = int64_t(4) << 20;
        // On the writer thread: the file cannot be copied (it changed, or is
        // gone), so the journal needs a Snapshot() of the text from the app.
        std::function<void()> snapshotWanted;
        // On the writer thread, once when writing starts failing after it
        // worked, with the reason.
        std::function<void(const std::string& reason)> failed;
        // For tests: on the caller's thread just before a batch is handed
        // over, and on the writer thread once it is on disk, by its number.
        std::function<void(uint64_t batch)> handingOver;
        std::function<void(uint64_t batch)> committed;
    };

    explicit Journal(Settings settings);
    // Hands over what has not been, writes everything handed over and lets
    // the journal's file be, locked no more.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const Settings& Configuration() const { return settings; }

    // Starts a journal of changes to base. Nothing is written before the
    // first flush.
    void Begin(const JournalBase& base);
    // The bytes [position, position + removed) were replaced by length bytes,
    // which fill puts in place. The text must not change while this runs.
    void Change(int64_t position, int64_t removed, int64_t length, const JournalFiller& fill);
    // The text is now exactly these length bytes: what came before no longer
    // matters.
    void Snapshot(int64_t length, const JournalFiller& fill);
    bool Unflushed() const;
    // Hands the changes since the last flush to the writer; returns at once.
    void Flush();
    // Waits until everything handed over is on disk, or failed to be; false
    // when the writer is still busy after the timeout.
    bool WaitUntilWritten(int milliseconds);
    // Removes the journal: its changes are saved or given up.
    void Remove();
    // Carries on a kept journal whose text the document now has: its records
    // are kept and new ones are added after them.
    void Adopt(std::unique_ptr<KeptJournal> kept);
    // Removes a kept journal once everything handed over before is on disk.
    // If that failed, the kept journal stays for another time.
    void Retire(std::unique_ptr<KeptJournal> kept);
    // Whether the writer asked for a snapshot since the last Begin or
    // Snapshot: the file the changes were made to has changed (then
    // Settings::snapshotWanted is called too), or writing failed in a way
    // that only the whole text can mend.
    bool SnapshotWanted() const { return snapshotWanted; }

  private:
    struct Batch;
    struct Command;
    class Writer;

    void Push(Command command);
    void Run();
    void Stream(int64_t position, int64_t removed, int64_t length, bool snapshot,
                const JournalFiller& fill);
    std::unique_ptr<char[]> TakeBlock();
    void ReturnBlock(std::unique_ptr<char[]> block);

    // The writer thread belongs to the process that made the journal; a
    // child forked from it has none, and leaves the journal to the parent.
    bool InOwnProcess() const;

    Settings settings;
    const int owner;
    std::unique_ptr<Batch> pending;
    int64_t began = 0;
    uint64_t batches = 0;
    bool runOpen = false; // records handed over since the last flush, with no commit yet
    std::atomic<bool> snapshotWanted{false};

    struct Shared; // with the writer thread
    std::unique_ptr<Shared> shared;
};

// A journal left by a process that has ended, locked by this object for as
// long as it lives and read to its last whole batch.
class KeptJournal {
  public:
    ~KeptJournal();
    KeptJournal(const KeptJournal&) = delete;
    KeptJournal& operator=(const KeptJournal&) = delete;

    const std::string& DocumentPath() const { return header.path; } // empty: untitled
    const std::optional<FileIdentity>& BaseFile() const { return header.file; }
    // Nanoseconds since the epoch: the first change, and the last batch.
    int64_t Began() const { return header.began; }
    int64_t LastChange() const { return lastChange; }
    // The length of the text it rebuilds.
    int64_t Length() const { return pieces.Length(); }
    // Whether it rebuilds its text without the file the changes were made to.
    bool HoldsItsText() const { return !pieces.UsesBase(); }

    // Reads the rebuilt text in order. Unless it holds its text, base gives
    // the file the changes were made to, from its start; it is read to its
    // end and must hold the bytes the journal began with.
    void StartReading(journalrecords::SequentialSource base);
    int64_t Read(char* buffer, size_t count);
    FileStatus LastError() const;

    // Deletes the journal.
    void Remove();

  private:
    friend class Journal;
    friend std::vector<std::unique_ptr<KeptJournal>> FindKeptJournals(const std::string& folder,
                                                                      const std::string& path);
    KeptJournal() = default;
    bool Open(int folder, const std::string& name);
    bool ReadRecords();

    savesteps::FileDescriptor folder;
    savesteps::FileDescriptor file;
    std::string name;
    journalrecords::Header header;
    journalrecords::Pieces pieces;
    int64_t end = 0;         // of the last whole batch
    int64_t recordBytes = 0; // since the last snapshot
    int64_t lastChange = 0;
    std::unique_ptr<journalrecords::PieceReader> reader;
};

// The journals of the document at path (for an empty path, of untitled
// documents) that no running process holds, the newest first. Journals found
// with no whole batch in them hold nothing to offer and are removed.
std::vector<std::unique_ptr<KeptJournal>> FindKeptJournals(const std::string& folder,
                                                           const std::string& path);
