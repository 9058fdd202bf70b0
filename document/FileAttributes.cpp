// Extended attributes, the access ACL and the mode of new files.
#include "document/FileAttributes.h"

#include <attr/libattr.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fileattributes {

namespace {

constexpr const char* accessAcl = "system.posix_acl_access";

// The system's own file /etc/xattr.conf names the attributes that describe
// the content as the system saw it (an integrity hash, for example) and must
// not be copied; everything else is the user's, ACLs included. The integrity
// measurement's hash is such an attribute too, though the file omits it.
int BelongsToTheFile(const char* name, struct error_context* context) {
    if (std::strcmp(name, "security.ima") == 0)
        return 0;
    return attr_copy_action(name, context) != ATTR_ACTION_SKIP;
}

bool HasAttribute(int fd, const char* name) {
    return ::fgetxattr(fd, name, nullptr, 0) >= 0;
}

// "Umask:\t0022" in /proc/self/status; -1 when it is not there.
int UmaskFromProc() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return -1;
    int mask = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        unsigned value;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = int(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

// Without /proc, a child process changes its own umask to read it, leaving
// this process's untouched.
int UmaskFromChild() {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        const unsigned short mask = ::umask(0);
        (void)!::write(pipeFds[1], &mask, sizeof mask);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    unsigned short mask = 0;
    const bool read = child > 0 && ::read(pipeFds[0], &mask, sizeof mask) == sizeof mask;
    ::close(pipeFds[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return read ? int(mask & 0777) : -1;
}

} // namespace

mode_t NewFileMode() {
    int mask = UmaskFromProc();
    if (mask < 0)
        mask = UmaskFromChild();
    if (mask < 0)
        mask = 077; // unknown: keep the file private rather than guess wider
    return 0666 & ~mode_t(mask);
}

bool CopyAttributes(int from, int to) {
    if (!HasAttribute(from, accessAcl) && ::fremovexattr(to, accessAcl) != 0 && errno != ENODATA &&
        errno != ENOTSUP)
        return false;
    return attr_copy_fd(nullptr, from, nullptr, to, BelongsToTheFile, nullptr) == 0;
}

} // namespace fileattributes
