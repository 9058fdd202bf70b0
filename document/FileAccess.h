// Moving bytes between files and memory with every step checked. Paths are
// byte strings, passed to the system exactly as given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Empty reason means success; otherwise a sentence for the person at the desk.
struct FileStatus {
    std::string reason;
    bool Ok() const { return reason.empty(); }
};

// A size for people: "1.5 GiB", "640 KiB", "12 bytes".
std::string DescribeSize(int64_t bytes);

// The most Varne reads of a file the system makes up as it is read.
constexpr int64_t specialFileLimit = 16 << 20;

// Which file a path names, and which version of it: a file replaced by another
// gets another inode, one rewritten in place another size or modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity& other) const;
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the file that path names now, links followed; false when
// there is none.
bool IdentifyFile(const std::string& path, FileIdentity& identity);
// The identity of the file open at fd; false when fstat fails.
bool IdentifyDescriptor(int fd, FileIdentity& identity);

// A regular file opened for reading. Anything else (a folder, a pipe, a device,
// a socket) is refused at once, before a single byte is read, and so is a file
// larger than the limit given, which the read never passes either. A file that changes while it is
// read (cut short, grown, rewritten or replaced) makes the read fail at its end, so that a mixture
// of old and new bytes never passes for the file.
//
// The system's own files (in /proc, /sys and the like) report a size of 0 or
// a page whatever they hold, may never end and may wait for data for ever.
// They are read without waiting and up to specialFileLimit bytes; one that
// would wait, or goes on past that, fails to read with the reason.
class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    FileStatus Open(const std::string& path, int64_t limit);
    int64_t Size() const { return size; }
    // Reads up to count bytes: the number read, 0 at the end, -1 on an error
    // (then LastError() says what went wrong).
    int64_t Read(char* buffer, size_t count);
    FileStatus LastError() const { return lastError; }
    // The file as it was opened, which is the file read when the read ended
    // without an error.
    const FileIdentity& Identity() const { return identity; }

  private:
    bool ChangedSinceOpened() const;

    std::string path;
    int fd = -1;
    bool special = false;
    int64_t size = 0;
    int64_t limit = 0;
    int64_t bytesRead = 0;
    FileIdentity identity;
    FileStatus lastError;
};

// Gives the bytes [start, start + count) of what is being saved.
using BlockSource = std::function<const char*(int64_t start, size_t count)>;

// Where path leads through symbolic links: the path of the name that finally
// holds the bytes (path itself when it is no link), which need not exist.
// Empty when the links cannot be followed (a loop, or one that cannot be read).
std::string ResolveLinks(const std::string& path);

// Whether path names a symbolic link itself; if so, sets target to its text.
bool ReadLink(const std::string& path, std::string& target);

// What a save may do with symbolic links at the name it is given.
struct LinkRule {
    // Where the name's links must still lead, as ResolveLinks said when the
    // save was decided on; empty for anywhere. A name that leads elsewhere by
    // the time it is written fails the save.
    std::string mustLeadTo;
    // The name itself gets the new file: a link there is replaced, never
    // followed, and what it pointed at stays as it was.
    bool replaceName = false;
};

// Writes length bytes, fetched from source in blocks of at most blockSize, to
// path so that a failure or a crash at any moment leaves either the old file or
// the new one whole, and so that the file keeps what the user set on it. A
// symbolic link is followed and stays a link. The file it names is opened
// without following a link and every decision is taken from that open file;
// if the name turns out to hold another file by the time it is written, the
// save fails. checked, when given, runs once that file has been checked, just
// before anything is written: the moment the save counts on the name staying
// as it was. links says what may be done with links (see LinkRule).
//
// The new bytes go to a fresh file in the same folder, unnamed until it is
// complete where the file system allows it. It gets the old file's owner,
// group, extended attributes (its access ACL among them) and mode, is flushed
// to disk and renamed over the target; then the folder is flushed.
//
// The file is written in place instead where a rename would lose something:
// more than one hard link, an owner, group or attribute that cannot be given
// to a new file, a folder that does not allow new files, or a name the rename
// cannot replace (a file bind-mounted over another). In place, a whole copy of
// the old content is first written beside the file as NAME.varne-backup (in
// the home folder when the file's folder takes no new file) and flushed; then
// room is reserved, the file is overwritten from its start, cut to the new
// length and flushed; only then is the copy removed. If writing fails part-way
// the old content is put back; a crash leaves the file or the copy whole.
FileStatus SaveFile(const std::string& path, int64_t length, size_t blockSize,
                    const BlockSource& source, const std::function<void()>& checked = {},
                    const LinkRule& links = {});

// The endings of the copies Varne keeps beside a file: unsaved text kept when
// Varne is ended without being asked, and the old content kept while a file
// is written in place. A taken name gets "-2", "-3", ... after the ending.
constexpr char unsavedSuffix[] = ".varne-unsaved";
constexpr char backupSuffix[] = ".varne-backup";

// Writes length bytes, fetched from source, to a new file that never replaces
// another: path + suffix, or path + suffix + "-2" and so on when that is taken.
// Where the file's folder takes no new file, it goes under the same name to
// the home folder, else to the session's runtime folder ($XDG_RUNTIME_DIR),
// else to the temporary folder. The file appears under its name only once it
// is whole and flushed to disk, and only its owner may read or write it. Sets
// written to its path.
FileStatus SaveCopyBeside(const std::string& path, const std::string& suffix, int64_t length,
                          size_t blockSize, const BlockSource& source, std::string& written);

// Whether path names a regular file (directly or through symbolic links).
bool IsExistingFile(const std::string& path);

// The user's home folder: $HOME, else the one the password database names.
std::string HomeFolder();
// The session's private folder, $XDG_RUNTIME_DIR; empty when there is none.
std::string RuntimeFolder();
// The folder for temporary files: $TMPDIR, else /tmp.
std::string TemporaryFolder();
