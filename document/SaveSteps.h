// The steps FileAccess builds its saves from: descriptors that close
// themselves, writes that check every byte, and new files that get a name in
// their folder only once they are whole. Only document/ uses these; the rest of
// the program goes through FileAccess.h.
#pragma once

#include <string>
#include <sys/types.h>

#include "document/FileAccess.h"

namespace savesteps {

FileStatus Failure(int error);

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int Get() const { return fd; }
    void Reset(int newFd);

  private:
    int fd;
};

// Writes the bytes fetched from source, every one of them, or says why not.
FileStatus WriteBlocks(int fd, int64_t length, size_t blockSize, const BlockSource& source);
// Copies everything from's descriptor holds, from its start, to to's position.
FileStatus CopyContent(int from, int to);
// Makes the names in a folder durable. Some file systems cannot flush a
// folder; that is no failure, since the files themselves are whole.
FileStatus FlushFolder(int folder);

// A file being written in a folder before it has a name there. Where the file
// system allows it, the file has no name at all until then (O_TMPFILE), so a
// crash leaves nothing behind; elsewhere it has a hidden temporary name, which
// is removed again unless the file gets its real name. Readable by the owner
// alone; open for reading and writing. Functions returning bool set errno when
// they fail.
class NewFile {
  public:
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile();

    bool Create(int folder);
    // Forgets the file: a temporary name is removed, the descriptor closed.
    void Reset();
    int Get() const { return file.Get(); }
    // Gives the file this name, which must be free: never replaces anything
    // (EEXIST when the name is taken).
    bool LinkAs(const std::string& name);
    // Gives the file this name in one step, replacing whatever had it.
    bool Replace(const std::string& name);
    // Takes back the name LinkAs gave.
    void RemoveName();
    // Flushes the bytes to disk. The descriptor stays open, since an unnamed
    // file can only be linked through it; once flushed, closing it cannot
    // report a write error any more.
    FileStatus Flush();

  private:
    bool LinkOnce(const std::string& name);
    bool LinkUnderTemporaryName();

    int folder = -1;
    FileDescriptor file;
    bool unnamed = false;
    std::string temporaryName; // while the file has one
    std::string linkedName;    // the name LinkAs gave
};

// The name stem + ending, with the stem cut short where the name would pass
// the system's limit on a name's length. The cut falls at the start of a
// UTF-8 character, so that the name of a file named in UTF-8 stays readable,
// and can be chosen in Varne's own Open dialog.
std::string NameWithEnding(const std::string& stem, const std::string& ending);

// Links file under the first free name of stem + suffix, stem + suffix + "-2",
// and so on (see NameWithEnding). Sets name to the one used.
bool LinkUnderFreeName(NewFile& file, const std::string& stem, const std::string& suffix,
                       std::string& name);

} // namespace savesteps
