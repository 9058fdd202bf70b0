// The system's own files, which report no true size and may never end or
// never answer, are read with bounds instead of hanging the program.
#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace {

class SpecialFileTest : public EditorTest {
  protected:
    // Loads path and returns how long that took.
    std::chrono::steady_clock::duration Load(const std::string& path) {
        const auto start = std::chrono::steady_clock::now();
        theApp.LoadFile(path);
        return std::chrono::steady_clock::now() - start;
    }

    void ExpectRefused(const std::string& path, const std::string& reason) {
        EXPECT_EQ(LastMessage().rfind("Could not read file \"" + path + "\".\n\n" + reason, 0), 0u)
            << LastMessage();
        EXPECT_EQ(EditorText(), "");
        EXPECT_TRUE(theApp.filePath.empty());
        EXPECT_FALSE(theApp.modified);
    }
};

TEST_F(SpecialFileTest, SmallSystemFilesLoadAsTheyReadNow) {
    // /proc reports a size of 0, /sys a page, whatever the file holds; neither
    // means that the file changed while it was read.
    theApp.LoadFile("/proc/self/status");
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(EditorText().rfind("Name:", 0), 0u) << EditorText();
    EXPECT_EQ(theApp.filePath, "/proc/self/status");

    const std::string sysFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st;
    if (::stat(sysFile.c_str(), &st) != 0)
        GTEST_SKIP() << "no " << sysFile;
    theApp.LoadFile(sysFile);
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(EditorText(), ReadBytes(sysFile));
    EXPECT_LT(int64_t(EditorText().size()), int64_t(st.st_size));
}

TEST_F(SpecialFileTest, AnEndlessSystemFileIsRefusedAfterABoundedRead) {
    // Eight bytes for every page of the address space: far more than anyone
    // can hold.
    AddText("current text");
    EXPECT_LT(Load("/proc/self/pagemap"), std::chrono::seconds(10));
    ExpectRefused("/proc/self/pagemap",
                  "It is a special file of the system that goes on past 16 MiB");
}

TEST_F(SpecialFileTest, ASystemFileThatWouldWaitIsRefusedAtOnce) {
    // The trace pipe waits for trace data, which nothing produces here.
    const std::string pipe = "/sys/kernel/tracing/trace_pipe";
    if (::geteuid() != 0 || ::access(pipe.c_str(), R_OK) != 0)
        GTEST_SKIP() << "needs root and " << pipe;
    AddText("current text");
    EXPECT_LT(Load(pipe), std::chrono::seconds(10));
    ExpectRefused(pipe, "It is a special file of the system");
}

} // namespace
