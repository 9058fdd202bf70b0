// A save must read the umask without changing it: umask(0) and back again
// would give any file another thread creates in between the widest mode. The
// C library's umask is replaced here by one that counts its calls.
#include <atomic>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace {
std::atomic<int> umaskCalls{0};
} // namespace

extern "C" mode_t umask(mode_t mask) noexcept {
    ++umaskCalls;
    return mode_t(::syscall(SYS_umask, mask));
}

namespace {

using UmaskGuardTest = EditorTest;

TEST_F(UmaskGuardTest, SavingANewFileNeverChangesTheUmask) {
    const mode_t mask = ::umask(027);
    ASSERT_EQ(umaskCalls, 1) << "the counting itself does not work";

    umaskCalls = 0;
    AddText("new");
    desktop.fileNames = {dir.Path("new.html")};
    Command(IDM_SAVEAS);
    EXPECT_EQ(umaskCalls, 0);
    EXPECT_FALSE(theApp.modified) << LastMessage();
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("new.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ::umask(mask);
}

} // namespace
