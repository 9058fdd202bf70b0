// Checked writes, self-closing descriptors and files named only when whole.
#include "document/SaveSteps.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace savesteps {

namespace {

bool WriteAll(int fd, const char* data, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        count -= size_t(n);
    }
    return true;
}

std::string RandomTemporaryName() {
    // One per thread: a save runs on a thread of its own, and an emergency
    // copy may be written on the GUI thread meanwhile.
    thread_local std::mt19937 generator{std::random_device{}()};
    return ".varne-" + std::to_string(::getpid()) + "-" + std::to_string(generator() % 1000000);
}

// An unnamed file is linked through /proc; without /proc only a process
// allowed to read any file could link it, so then files start with a name.
bool CanLinkUnnamedFiles() {
    static const bool procMounted = ::access("/proc/self/fd", F_OK) == 0;
    return procMounted;
}

bool LinkDescriptor(int fd, int folder, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

} // namespace

FileStatus Failure(int error) {
    return FileStatus{std::strerror(error)};
}

FileDescriptor::~FileDescriptor() {
    if (fd >= 0)
        ::close(fd);
}

void FileDescriptor::Reset(int newFd) {
    if (fd >= 0)
        ::close(fd);
    fd = newFd;
}

FileStatus WriteBlocks(int fd, int64_t length, size_t blockSize, const BlockSource& source) {
    for (int64_t start = 0; start < length; start += int64_t(blockSize)) {
        const size_t count = size_t(std::min<int64_t>(length - start, int64_t(blockSize)));
        if (!WriteAll(fd, source(start, count), count))
            return Failure(errno);
    }
    return FileStatus{};
}

// In the kernel where it can (no trip through this process, and a shared
// extent on file systems that have them), else block by block.
FileStatus CopyContent(int from, int to) {
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(from, &offset, to, nullptr, size_t(1) << 30, 0);
        if (n == 0)
            return FileStatus{};
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return Failure(errno);
        if (n < 0)
            break;
    }
    char block[65536];
    for (;;) {
        const ssize_t n = ::pread(from, block, sizeof block, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Failure(errno);
        if (n == 0)
            return FileStatus{};
        if (!WriteAll(to, block, size_t(n)))
            return Failure(errno);
        offset += n;
    }
}

FileStatus FlushFolder(int folder) {
    FileDescriptor readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.Get() >= 0 && ::fsync(readable.Get()) != 0 && errno != EINVAL && errno != EROFS)
        return Failure(errno);
    return FileStatus{};
}

NewFile::~NewFile() {
    Reset();
}

void NewFile::Reset() {
    if (!temporaryName.empty())
        ::unlinkat(folder, temporaryName.c_str(), 0);
    temporaryName.clear();
    linkedName.clear();
    file.Reset(-1);
    unnamed = false;
}

bool NewFile::Create(int inFolder) {
    Reset();
    folder = inFolder;
    if (CanLinkUnnamedFiles()) {
        file.Reset(::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (file.Get() >= 0) {
            unnamed = true;
            return true;
        }
        // Only a file system without unnamed files falls back to a named
        // one; a folder that refuses new files refuses those too.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = RandomTemporaryName();
        file.Reset(
            ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600));
        if (file.Get() >= 0) {
            temporaryName = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

FileStatus NewFile::Flush() {
    return ::fsync(file.Get()) == 0 ? FileStatus{} : Failure(errno);
}

bool NewFile::LinkUnderTemporaryName() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = RandomTemporaryName();
        if (LinkDescriptor(file.Get(), folder, name)) {
            temporaryName = name;
            unnamed = false;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool NewFile::LinkAs(const std::string& name) {
    if (!LinkOnce(name))
        return false;
    linkedName = name;
    return true;
}

bool NewFile::LinkOnce(const std::string& name) {
    if (unnamed)
        return LinkDescriptor(file.Get(), folder, name);
    if (::renameat2(folder, temporaryName.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) {
        temporaryName.clear();
        return true;
    }
    // Some file systems cannot promise a rename that replaces nothing; a
    // second hard link, which never replaces, does the same in two steps.
    if (errno != EINVAL)
        return false;
    if (::linkat(folder, temporaryName.c_str(), folder, name.c_str(), 0) != 0)
        return false;
    ::unlinkat(folder, temporaryName.c_str(), 0);
    temporaryName.clear();
    return true;
}

void NewFile::RemoveName() {
    if (!linkedName.empty())
        ::unlinkat(folder, linkedName.c_str(), 0);
    linkedName.clear();
}

// A rename is the one step that replaces a name whole, and it needs a name to
// move: an unnamed file gets a temporary one first, for as short a time as
// possible.
bool NewFile::Replace(const std::string& name) {
    if (unnamed && !LinkUnderTemporaryName())
        return false;
    if (::renameat(folder, temporaryName.c_str(), folder, name.c_str()) != 0)
        return false;
    temporaryName.clear();
    return true;
}

std::string NameWithEnding(const std::string& stem, const std::string& ending) {
    size_t keep = NAME_MAX - std::min<size_t>(ending.size(), NAME_MAX);
    if (keep >= stem.size())
        return stem + ending;
    // A UTF-8 character has at most three bytes after its first, each 10xxxxxx.
    auto inCharacter = [&](size_t at) {
        return (static_cast<unsigned char>(stem[at]) & 0xC0) == 0x80;
    };
    for (int back = 0; back < 3 && keep > 0 && inCharacter(keep); ++back)
        --keep;
    return stem.substr(0, keep) + ending;
}

bool LinkUnderFreeName(NewFile& file, const std::string& stem, const std::string& suffix,
                       std::string& name) {
    for (int n = 1; n <= 1000; ++n) {
        name = NameWithEnding(stem, n == 1 ? suffix : suffix + "-" + std::to_string(n));
        if (file.LinkAs(name))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace savesteps
