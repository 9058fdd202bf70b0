#include "document/FileAccess.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <random>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

FileStatus Failure(int error) {
    return FileStatus{std::strerror(error)};
}

FileStatus NotRegular(const struct stat& st) {
    if (S_ISDIR(st.st_mode))
        return FileStatus{"It is a folder, not a file."};
    return FileStatus{"It is not a regular file (it is a device, a pipe or a socket)."};
}

FileStatus ChangedWhileRead() {
    return FileStatus{"The file changed while it was being read."};
}

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity identity;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modifiedSeconds = st.st_mtim.tv_sec;
    identity.modifiedNanoseconds = st.st_mtim.tv_nsec;
    return identity;
}

std::function<void()> blockReadHook;

// File systems whose files the kernel makes up as they are read.
constexpr decltype(statfs::f_type) specialFileSystems[] = {
    PROC_SUPER_MAGIC,    SYSFS_MAGIC,   DEBUGFS_MAGIC,  TRACEFS_MAGIC,
    SECURITYFS_MAGIC,    SELINUX_MAGIC, SMACK_MAGIC,    CGROUP_SUPER_MAGIC,
    CGROUP2_SUPER_MAGIC, BPF_FS_MAGIC,  PSTOREFS_MAGIC, EFIVARFS_MAGIC,
};

bool OnSpecialFileSystem(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return false;
    for (auto type : specialFileSystems)
        if (fs.f_type == type)
            return true;
    return false;
}

FileStatus EndlessSpecialFile() {
    return FileStatus{"It is a special file of the system that goes on past " +
                      std::to_string(specialFileLimit >> 20) +
                      " MiB, the most Varne reads of such files."};
}

FileStatus WaitingSpecialFile() {
    return FileStatus{"It is a special file of the system with nothing to read yet: reading it "
                      "could wait for ever."};
}

FileStatus TooLarge(int64_t limit) {
    return FileStatus{"The file is too large: Varne opens files of up to " + DescribeSize(limit) +
                      "."};
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    int Get() const { return fd; }
    // Closes now and reports the result, which can carry a delayed write error.
    int Close() {
        int result = ::close(fd);
        fd = -1;
        return result;
    }

  private:
    int fd;
};

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links from path to the name that finally holds the bytes,
// which need not exist yet (a dangling link names the file to create).
FileStatus FollowLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return FileStatus{};
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0)
            return Failure(errno);
        link.resize(size_t(n));
        target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
    }
    return Failure(ELOOP);
}

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

FileStatus WriteBlocks(int fd, int64_t length, size_t blockSize, const BlockSource& source) {
    for (int64_t start = 0; start < length; start += int64_t(blockSize)) {
        const size_t count = size_t(std::min<int64_t>(length - start, int64_t(blockSize)));
        if (!WriteAll(fd, source(start, count), count))
            return Failure(errno);
    }
    return FileStatus{};
}

FileStatus FlushAndClose(FileDescriptor& file) {
    if (::fsync(file.Get()) != 0)
        return Failure(errno);
    if (file.Close() != 0)
        return Failure(errno);
    return FileStatus{};
}

// Overwrites the file from its start and then cuts it to the new length. The
// room for the new bytes is reserved first where the file system can, so that
// a full disk is found before a single byte of the old content is changed.
FileStatus WriteInPlace(const std::string& target, int64_t length, size_t blockSize,
                        const BlockSource& source) {
    FileDescriptor file(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0)
        return Failure(errno);
    struct stat st;
    if (::fstat(file.Get(), &st) != 0)
        return Failure(errno);
    if (!S_ISREG(st.st_mode))
        return NotRegular(st);
    if (length > 0 && ::fallocate(file.Get(), FALLOC_FL_KEEP_SIZE, 0, length) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return Failure(errno);
    FileStatus status = WriteBlocks(file.Get(), length, blockSize, source);
    if (!status.Ok())
        return status;
    if (::ftruncate(file.Get(), length) != 0)
        return Failure(errno);
    return FlushAndClose(file);
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A fresh file beside the target, readable by the owner alone until complete.
int CreateTemporary(int folder, std::string& name) {
    static std::mt19937 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = ".varne-" + std::to_string(::getpid()) + "-" + std::to_string(generator() % 1000000);
        const int fd = ::openat(folder, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

enum class Outcome { Saved, Failed, UseInPlace };

Outcome ReplaceByRename(const std::string& target, const struct stat* existing, int64_t length,
                        size_t blockSize, const BlockSource& source, FileStatus& status) {
    const std::string folderPath = DirectoryOf(target);
    FileDescriptor folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0) {
        status = Failure(errno);
        return Outcome::Failed;
    }
    std::string temporary;
    FileDescriptor file(CreateTemporary(folder.Get(), temporary));
    if (file.Get() < 0) {
        const int error = errno;
        if (existing && (error == EACCES || error == EPERM || error == EROFS))
            return Outcome::UseInPlace;
        status = Failure(error);
        return Outcome::Failed;
    }
    auto discard = [&](FileStatus failure) {
        ::unlinkat(folder.Get(), temporary.c_str(), 0);
        status = failure;
        return Outcome::Failed;
    };
    if (existing) {
        struct stat mine;
        if (::fstat(file.Get(), &mine) != 0)
            return discard(Failure(errno));
        if ((mine.st_uid != existing->st_uid || mine.st_gid != existing->st_gid) &&
            ::fchown(file.Get(), existing->st_uid, existing->st_gid) != 0) {
            ::unlinkat(folder.Get(), temporary.c_str(), 0);
            return Outcome::UseInPlace;
        }
    }
    status = WriteBlocks(file.Get(), length, blockSize, source);
    if (!status.Ok())
        return discard(status);
    const mode_t mode = existing ? existing->st_mode & 07777 : NewFileMode();
    if (::fchmod(file.Get(), mode) != 0)
        return discard(Failure(errno));
    status = FlushAndClose(file);
    if (!status.Ok())
        return discard(status);
    const std::string name = BaseNameOf(target);
    if (::renameat(folder.Get(), temporary.c_str(), folder.Get(), name.c_str()) != 0)
        return discard(Failure(errno));
    // Make the rename itself durable. Some file systems cannot flush a folder;
    // the new file is whole in any case.
    FileDescriptor readableFolder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readableFolder.Get() >= 0 && ::fsync(readableFolder.Get()) != 0 && errno != EINVAL &&
        errno != EROFS) {
        status = Failure(errno);
        return Outcome::Failed;
    }
    return Outcome::Saved;
}

} // namespace

std::string DescribeSize(int64_t bytes) {
    const char* units[] = {"KiB", "MiB", "GiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double size = double(bytes);
    int unit = -1;
    while (size >= 1024 && unit < 2) {
        size /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.*f %s", size == double(int64_t(size)) ? 0 : 1, size,
                  units[unit]);
    return text;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    identity = IdentityOf(st);
    return true;
}

void FileReader::SetBlockReadHookForTests(std::function<void()> hook) {
    blockReadHook = std::move(hook);
}

FileReader::~FileReader() {
    if (fd >= 0)
        ::close(fd);
}

FileStatus FileReader::Open(const std::string& name, int64_t sizeLimit) {
    path = name;
    limit = sizeLimit;
    // Non-blocking, so that opening a pipe with no writer returns at once.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Failure(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return Failure(errno);
    if (!S_ISREG(st.st_mode))
        return NotRegular(st);
    if (st.st_size > limit)
        return TooLarge(limit);
    size = st.st_size;
    identity = IdentityOf(st);
    special = OnSpecialFileSystem(fd);
    // A file of unknown size is read without waiting: a read that would wait
    // could wait for ever.
    if (!special && size > 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return FileStatus{};
}

int64_t FileReader::Read(char* buffer, size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n > 0) {
            bytesRead += n;
            if (bytesRead > limit) {
                lastError = TooLarge(limit);
                return -1;
            }
            if (special && bytesRead > specialFileLimit) {
                lastError = EndlessSpecialFile();
                return -1;
            }
            if (blockReadHook)
                blockReadHook();
            return int64_t(n);
        }
        if (n == 0) {
            if (special || !ChangedSinceOpened())
                return 0;
            lastError = ChangedWhileRead();
            return -1;
        }
        if (errno == EAGAIN) {
            lastError = WaitingSpecialFile();
            return -1;
        }
        if (errno != EINTR) {
            lastError = Failure(errno);
            return -1;
        }
    }
}

// Everything read is the file as it was opened when as many bytes came as it
// had, the open file still has that size and modification time, and the path
// still names it.
bool FileReader::ChangedSinceOpened() const {
    struct stat st;
    if (bytesRead != size || ::fstat(fd, &st) != 0 || IdentityOf(st) != identity)
        return true;
    FileIdentity named;
    return !IdentifyFile(path, named) || named.device != identity.device ||
           named.inode != identity.inode;
}

FileStatus SaveFile(const std::string& path, int64_t length, size_t blockSize,
                    const BlockSource& source) {
    if (path.empty())
        return Failure(ENOENT);
    std::string target;
    FileStatus status = FollowLinks(path, target);
    if (!status.Ok())
        return status;

    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return Failure(errno);
    if (exists && !S_ISREG(st.st_mode))
        return NotRegular(st);
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return Failure(errno);

    if (exists && st.st_nlink > 1)
        return WriteInPlace(target, length, blockSize, source);
    switch (ReplaceByRename(target, exists ? &st : nullptr, length, blockSize, source, status)) {
    case Outcome::Saved:
        return FileStatus{};
    case Outcome::Failed:
        return status;
    case Outcome::UseInPlace:
        break;
    }
    return WriteInPlace(target, length, blockSize, source);
}
