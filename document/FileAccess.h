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

// The largest file the editing component can hold: its positions are 32-bit.
constexpr int64_t maxDocumentSize = INT32_MAX;

// A regular file opened for reading. Anything else (a folder, a pipe, a device,
// a socket) is refused at once, before a single byte is read, and so is a file
// the component could not hold.
class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    FileStatus Open(const std::string& path);
    int64_t Size() const { return size; }
    // Reads up to count bytes: the number read, 0 at the end, -1 on an error
    // (then LastError() says what went wrong).
    long Read(char* buffer, size_t count);
    FileStatus LastError() const { return lastError; }

  private:
    int fd = -1;
    int64_t size = 0;
    int64_t bytesRead = 0;
    FileStatus lastError;
};

// Gives the bytes [start, start + count) of what is being saved.
using BlockSource = std::function<const char*(int64_t start, size_t count)>;

// Writes length bytes, fetched from source in blocks of at most blockSize, to
// path so that a failure or a crash at any moment leaves either the old file or
// the new one whole, and so that the file keeps what the user set on it. A
// symbolic link is followed and stays a link. The file it names is opened
// without following a link and every decision is taken from that open file;
// if the name turns out to hold another file by the time it is written, the
// save fails.
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
                    const BlockSource& source);

// Writes length bytes, fetched from source, to a new file that never replaces
// another: path + suffix, or path + suffix + "-2" and so on when that is taken.
// Where the file's folder takes no new file, it goes to the home folder under
// the same name. The file appears under its name only once it is whole and
// flushed to disk, and only its owner may read it. Sets written to its path.
FileStatus SaveCopyBeside(const std::string& path, const std::string& suffix, int64_t length,
                          size_t blockSize, const BlockSource& source, std::string& written);

// Whether path names a regular file (directly or through symbolic links).
bool IsExistingFile(const std::string& path);

// The user's home folder: $HOME, else the one the password database names.
std::string HomeFolder();

// For tests: runs in every save once the target has been checked, just before
// anything is written. An empty function removes it.
void SetSaveCheckedHook(std::function<void()> hook);
