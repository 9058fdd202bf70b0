// Makes one file slow to read, as if it lay on a slow network disk, so that a
// smoke test can count on a load lasting as long as it needs on any machine.
// Preloaded into the program (LD_PRELOAD), it slows every read of the file
// named by $SLOW_READS_FILE while the file named by $SLOW_READS_HOLD exists:
// each such read waits 20 ms and then returns at most a thousandth of the
// file. So a held load lasts at least 20 seconds whatever the file's size, yet
// every read moves a progress bar of a thousand steps; once the hold file is
// removed, the rest of the file reads at full speed. Other reads are untouched.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

ssize_t RealRead(int fd, void* buffer, size_t count) {
    static const auto real = reinterpret_cast<ReadFunction>(::dlsym(RTLD_NEXT, "read"));
    return real(fd, buffer, count);
}

// The slow file's size when the descriptor reads it while it is held, else 0.
off_t HeldSize(int fd) {
    const char* slowName = std::getenv("SLOW_READS_FILE");
    const char* holdName = std::getenv("SLOW_READS_HOLD");
    struct stat opened, slow, hold;
    if (!slowName || !holdName || ::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::stat(slowName, &slow) != 0 || opened.st_dev != slow.st_dev ||
        opened.st_ino != slow.st_ino || ::stat(holdName, &hold) != 0)
        return 0;
    return slow.st_size;
}

} // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    if (const off_t size = HeldSize(fd)) {
        const timespec pause = {0, 20 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
        count = std::min(count, size_t(size / 1000 + 1));
    }
    return RealRead(fd, buffer, count);
}
