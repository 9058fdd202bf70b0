// Loading and saving with every step checked. A save opens the file it
// replaces once, without following links, and decides from that descriptor.
#include "document/FileAccess.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

#include "document/FileAttributes.h"
#include "document/SaveSteps.h"

using savesteps::Failure;
using savesteps::FileDescriptor;
using savesteps::NewFile;

namespace {

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

FileStatus Replaced() {
    return FileStatus{"Another file took its place while it was being saved."};
}

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
        std::string link;
        if (!ReadLink(target, link))
            return Failure(errno);
        target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
    }
    return Failure(ELOOP);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file a save replaces: open for reading, and what fstat says about it.
struct Target {
    FileDescriptor file; // -1 while the name holds no file
    struct stat st {};
    bool Exists() const { return file.Get() >= 0; }
};

// Opens the file at name, if there is one, without following a link, and
// checks that the descriptor holds the file the name was checked for. A link
// there is another file's place, unless it is to be replaced (as if the name
// held nothing).
FileStatus OpenTarget(int folder, const std::string& name, bool replaceLink, Target& target) {
    struct stat named;
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? FileStatus{} : Failure(errno);
    if (S_ISLNK(named.st_mode))
        return replaceLink ? FileStatus{} : Replaced(); // links had just been followed
    if (!S_ISREG(named.st_mode))
        return NotRegular(named);
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return Failure(errno);
    target.file.Reset(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (target.file.Get() < 0)
        return errno == ELOOP ? Replaced() : Failure(errno);
    if (::fstat(target.file.Get(), &target.st) != 0)
        return Failure(errno);
    return SameFile(named, target.st) ? FileStatus{} : Replaced();
}

// A new file that gets the old one's owner and group, or false.
bool TakeOwner(int fd, const struct stat& old) {
    struct stat mine;
    if (::fstat(fd, &mine) != 0)
        return false;
    return (mine.st_uid == old.st_uid && mine.st_gid == old.st_gid) ||
           ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

using Filler = std::function<FileStatus(int fd)>;

// Creates a new file in folder, fills it, flushes it and links it under the
// first free name of stem + suffix. Where that fails, in each of the other
// places in turn, the one that takes it then staying open in place for as long
// as file needs it. A failure everywhere reports the first one.
FileStatus CreateBeside(int folder, const std::string& folderPath, const std::string& stem,
                        const std::string& suffix, const Filler& fill,
                        const std::vector<std::string>& otherPlaces, NewFile& file,
                        FileDescriptor& place, std::string& written) {
    auto createIn = [&](int where, const std::string& wherePath) {
        file.Reset();
        if (!file.Create(where))
            return Failure(errno);
        FileStatus status = fill(file.Get());
        if (status.Ok())
            status = file.Flush();
        std::string name;
        if (status.Ok() && !savesteps::LinkUnderFreeName(file, stem, suffix, name))
            status = Failure(errno);
        if (status.Ok())
            status = savesteps::FlushFolder(where);
        if (!status.Ok())
            file.RemoveName();
        written = wherePath + "/" + name;
        return status;
    };
    const FileStatus beside = createIn(folder, folderPath);
    if (beside.Ok())
        return beside;
    for (const std::string& other : otherPlaces) {
        if (other.empty() || other == folderPath)
            continue;
        place.Reset(::open(other.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (place.Get() >= 0 && createIn(place.Get(), other).Ok())
            return FileStatus{};
    }
    return beside;
}

// The whole old content of a file written in place, kept beside it until the
// new content is safely on disk.
class OldContent {
  public:
    OldContent(int folder, const std::string& savedPath) : folder(folder), savedPath(savedPath) {}

    FileStatus Keep(int from) {
        // Not in a folder that a restart empties: the copy must outlive the
        // machine stopping half-way through the save.
        const FileStatus status = CreateBeside(
            folder, DirectoryOf(savedPath), BaseNameOf(savedPath), backupSuffix,
            [from](int to) { return savesteps::CopyContent(from, to); }, {HomeFolder()}, copy, home,
            copyPath);
        if (!status.Ok())
            return FileStatus{"Could not keep a copy of the old content: " + status.reason + "."};
        return status;
    }

    // Called when writing in place failed part-way: the old content goes back
    // into the file, or the copy stays and the failure says where it is.
    FileStatus PutBack(int to, const FileStatus& failure) {
        const off_t size = ::lseek(copy.Get(), 0, SEEK_END);
        if (size >= 0 && ::lseek(to, 0, SEEK_SET) == 0 &&
            savesteps::CopyContent(copy.Get(), to).Ok() && ::ftruncate(to, size) == 0 &&
            ::fsync(to) == 0) {
            Remove();
            return failure;
        }
        return FileStatus{failure.reason + ". The old content is kept in \"" + copyPath + "\""};
    }

    void Remove() { copy.RemoveName(); }

  private:
    int folder;
    std::string savedPath;
    FileDescriptor home;
    NewFile copy;
    std::string copyPath;
};

// Overwrites the file through a descriptor checked to hold the target, after
// keeping a copy of the old content; see SaveFile.
FileStatus WriteInPlace(int folder, const std::string& path, const Target& target, int64_t length,
                        size_t blockSize, const BlockSource& source) {
    const std::string name = BaseNameOf(path);
    FileDescriptor file(
        ::openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0)
        return errno == ELOOP ? Replaced() : Failure(errno);
    struct stat st;
    if (::fstat(file.Get(), &st) != 0)
        return Failure(errno);
    if (!SameFile(st, target.st))
        return Replaced();

    OldContent old(folder, path);
    FileStatus status = old.Keep(target.file.Get());
    if (!status.Ok())
        return status;
    // Room for the new bytes first, so that a full disk is found before a
    // single byte of the old content changes.
    if (length > 0 && ::fallocate(file.Get(), FALLOC_FL_KEEP_SIZE, 0, length) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        status = Failure(errno);
        old.Remove();
        return status;
    }
    status = savesteps::WriteBlocks(file.Get(), length, blockSize, source);
    if (status.Ok() && ::ftruncate(file.Get(), length) != 0)
        status = Failure(errno);
    if (status.Ok() && ::fsync(file.Get()) != 0)
        status = Failure(errno);
    if (!status.Ok())
        return old.PutBack(file.Get(), status);
    old.Remove();
    return status;
}

enum class Outcome { Saved, Failed, UseInPlace };

Outcome ReplaceByRename(int folder, const std::string& name, const Target& target, int64_t length,
                        size_t blockSize, const BlockSource& source, FileStatus& status) {
    NewFile file;
    if (!file.Create(folder)) {
        const int error = errno;
        if (target.Exists() && (error == EACCES || error == EPERM || error == EROFS))
            return Outcome::UseInPlace;
        status = Failure(error);
        return Outcome::Failed;
    }
    if (target.Exists() && !TakeOwner(file.Get(), target.st))
        return Outcome::UseInPlace;
    status = savesteps::WriteBlocks(file.Get(), length, blockSize, source);
    if (!status.Ok())
        return Outcome::Failed;
    // Attributes after the bytes, since writing may clear some of them.
    if (target.Exists() && !fileattributes::CopyAttributes(target.file.Get(), file.Get()))
        return Outcome::UseInPlace;
    const mode_t mode = target.Exists() ? target.st.st_mode & 07777 : fileattributes::NewFileMode();
    if (::fchmod(file.Get(), mode) != 0) {
        status = Failure(errno);
        return Outcome::Failed;
    }
    status = file.Flush();
    if (!status.Ok())
        return Outcome::Failed;
    if (!file.Replace(name)) {
        const int error = errno;
        // A file mounted over another cannot be replaced, only written.
        if (target.Exists() && (error == EBUSY || error == EXDEV))
            return Outcome::UseInPlace;
        status = Failure(error);
        return Outcome::Failed;
    }
    status = savesteps::FlushFolder(folder);
    return status.Ok() ? Outcome::Saved : Outcome::Failed;
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

bool IdentifyDescriptor(int fd, FileIdentity& identity) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    identity = IdentityOf(st);
    return true;
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

bool ReadLink(const std::string& path, std::string& target) {
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0)
        return false;
    link.resize(size_t(n));
    target = link;
    return true;
}

std::string ResolveLinks(const std::string& path) {
    std::string resolved;
    return FollowLinks(path, resolved).Ok() ? resolved : std::string();
}

FileStatus SaveFile(const std::string& path, int64_t length, size_t blockSize,
                    const BlockSource& source, const std::function<void()>& checked,
                    const LinkRule& links) {
    if (path.empty())
        return Failure(ENOENT);
    std::string resolved = path;
    FileStatus status;
    if (!links.replaceName)
        status = FollowLinks(path, resolved);
    if (!status.Ok())
        return status;
    if (!links.mustLeadTo.empty() && resolved != links.mustLeadTo)
        return Replaced();
    const std::string name = BaseNameOf(resolved);
    if (name.empty() || name == "." || name == "..") {
        struct stat st;
        return ::stat(resolved.c_str(), &st) == 0 ? NotRegular(st) : Failure(errno);
    }
    FileDescriptor folder(::open(DirectoryOf(resolved).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0)
        return Failure(errno);

    Target target;
    status = OpenTarget(folder.Get(), name, links.replaceName, target);
    if (!status.Ok())
        return status;
    if (checked)
        checked();

    if (target.Exists() && target.st.st_nlink > 1)
        return WriteInPlace(folder.Get(), resolved, target, length, blockSize, source);
    switch (ReplaceByRename(folder.Get(), name, target, length, blockSize, source, status)) {
    case Outcome::Saved:
        return FileStatus{};
    case Outcome::Failed:
        return status;
    case Outcome::UseInPlace:
        break;
    }
    return WriteInPlace(folder.Get(), resolved, target, length, blockSize, source);
}

FileStatus SaveCopyBeside(const std::string& path, const std::string& suffix, int64_t length,
                          size_t blockSize, const BlockSource& source, std::string& written) {
    const std::string folderPath = DirectoryOf(path);
    FileDescriptor folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    FileDescriptor place;
    NewFile file;
    return CreateBeside(
        folder.Get(), folderPath, BaseNameOf(path), suffix,
        [&](int fd) { return savesteps::WriteBlocks(fd, length, blockSize, source); },
        {HomeFolder(), RuntimeFolder(), TemporaryFolder()}, file, place, written);
}

bool IsExistingFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string RuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? runtime : std::string();
}

std::string TemporaryFolder() {
    const char* temporary = std::getenv("TMPDIR");
    return temporary && *temporary ? temporary : "/tmp";
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()))
        return entry->pw_dir;
    return std::string();
}
