// Endings nobody chose at the desk: a signal, the display going away and a
// logout. Unsaved text must land, byte for byte, in an emergency copy that
// replaces nothing, and the document file must stay as it was. The signals are
// real ones, sent to this process and handled by the real event loop.
#include <QApplication>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Endings.h"
#include "tests/TestSupport.h"

namespace {

using platform::IDCANCEL;
using platform::IDNO;
using platform::IDYES;

// Bytes a careless copy would change: NUL, CR LF, a lone CR, bytes above 127.
const std::string unsaved("<p>caf\xC3\xA9\0\r\n\rend\xFF</p>", 20);

class EndingTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        const char* home = std::getenv("HOME");
        savedHome = home ? home : "";
        ::setenv("HOME", homeDir.Root().c_str(), 1);
    }

    void TearDown() override {
        ::setenv("HOME", savedHome.c_str(), 1);
        EditorTest::TearDown();
    }

    std::string OpenedAndEdited(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        Command(IDM_SELECTALL);
        Command(IDM_DELETE);
        AddText(unsaved);
        EXPECT_TRUE(theApp.modified);
        return path;
    }

    // Sends the signal to this process and lets the event loop handle it;
    // returns what the program printed on stderr meanwhile.
    std::string Deliver(int signal) {
        testing::internal::CaptureStderr();
        ::raise(signal);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (desktop.quits.empty() && std::chrono::steady_clock::now() < deadline)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return testing::internal::GetCapturedStderr();
    }

    TempDir homeDir;
    std::string savedHome;
};

TEST_F(EndingTest, SigtermKeepsUnsavedTextBesideTheFileAndEnds) {
    const std::string path = OpenedAndEdited("saved text");
    platform::EndingWatch watch(theApp.EndingHandlers());
    const std::string said = Deliver(SIGTERM);

    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGTERM});
    EXPECT_EQ(watch.CaughtSignal(), SIGTERM);
    const std::string copy = path + ".varne-unsaved";
    EXPECT_EQ(ReadBytes(copy), unsaved);
    EXPECT_EQ(ReadBytes(path), "saved text");
    EXPECT_NE(said.find(copy), std::string::npos) << said;
    struct stat st;
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "the copy is for its owner alone";
    EXPECT_EQ(ListFolder(dir.Root()),
              (std::vector<std::string>{"page.html", copy.substr(dir.Root().size() + 1)}));
    EXPECT_TRUE(desktop.messages.empty()) << "an unchosen ending asks nothing";
}

TEST_F(EndingTest, SighupKeepsAnUntitledDocumentInTheHomeFolder) {
    AddText(unsaved);
    platform::EndingWatch watch(theApp.EndingHandlers());
    const std::string said = Deliver(SIGHUP);

    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGHUP});
    const std::string copy = homeDir.Path("Untitled.varne-unsaved");
    EXPECT_EQ(ReadBytes(copy), unsaved);
    EXPECT_NE(said.find(copy), std::string::npos) << said;
}

TEST_F(EndingTest, AnEmergencyCopyNeverReplacesAnotherFile) {
    const std::string path = OpenedAndEdited("saved text");
    WriteBytes(path + ".varne-unsaved", "an older copy");
    platform::EndingWatch watch(theApp.EndingHandlers());
    const std::string said = Deliver(SIGINT);

    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGINT});
    EXPECT_EQ(ReadBytes(path + ".varne-unsaved"), "an older copy");
    EXPECT_EQ(ReadBytes(path + ".varne-unsaved-2"), unsaved);
    EXPECT_NE(said.find(path + ".varne-unsaved-2"), std::string::npos) << said;
    EXPECT_EQ(ReadBytes(path), "saved text");
}

TEST_F(EndingTest, AFolderThatTakesNoFileSendsTheCopyHome) {
    ScopedTmpfs disk("1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string path = disk.Path("page.html");
    WriteBytes(path, "saved text");
    theApp.LoadFile(path);
    AddText(unsaved);
    ASSERT_TRUE(disk.RemountReadOnly());
    platform::EndingWatch watch(theApp.EndingHandlers());
    const std::string said = Deliver(SIGTERM);

    EXPECT_EQ(ReadBytes(homeDir.Path("page.html.varne-unsaved")), unsaved + "saved text");
    EXPECT_NE(said.find(homeDir.Path("page.html.varne-unsaved")), std::string::npos) << said;
    EXPECT_EQ(ReadBytes(path), "saved text");
}

TEST_F(EndingTest, ACleanDocumentLeavesNoCopy) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "saved text");
    theApp.LoadFile(path);
    platform::EndingWatch watch(theApp.EndingHandlers());
    const std::string said = Deliver(SIGTERM);

    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGTERM});
    EXPECT_EQ(ListFolder(dir.Root()), std::vector<std::string>{"page.html"});
    EXPECT_EQ(ListFolder(homeDir.Root()), std::vector<std::string>{});
    EXPECT_EQ(said, "");
}

// Started with nohup, the program keeps ignoring a hang-up; and once the watch
// is gone, every signal is handled as before it came.
TEST_F(EndingTest, IgnoredSignalsStayIgnoredAndTheWatchPutsEverythingBack) {
    AddText(unsaved);
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGHUP, &ignore, &before), 0);
    {
        platform::EndingWatch watch(theApp.EndingHandlers());
        ::raise(SIGHUP);
        QApplication::processEvents(QEventLoop::AllEvents, 100);
        EXPECT_TRUE(desktop.quits.empty());
        EXPECT_EQ(watch.CaughtSignal(), 0);
    }
    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    ::sigaction(SIGHUP, &before, nullptr);
    EXPECT_EQ(ListFolder(homeDir.Root()), std::vector<std::string>{});
}

// Qt's X11 plugin ends the process with exit(1) when the display is gone; the
// text is kept on the way out. Run in a child process, which then exits.
TEST_F(EndingTest, ExitingWhileWatchedKeepsTheText) {
    GTEST_FLAG_SET(death_test_style, "fast");
    const std::string path = OpenedAndEdited("saved text");
    // The child gets only this thread: the journal's writer must not be in the
    // middle of anything (an allocation, its lock) when it forks.
    ASSERT_TRUE(theApp.SyncJournal(10000));
    EXPECT_EXIT(
        {
            platform::EndingWatch watch(theApp.EndingHandlers());
            std::exit(1);
        },
        testing::ExitedWithCode(1), "unsaved text kept in " + path + ".varne-unsaved");
    EXPECT_EQ(ReadBytes(path + ".varne-unsaved"), unsaved);
    EXPECT_EQ(ReadBytes(path), "saved text");
}

TEST_F(EndingTest, ALogoutAsksTheSaveQuestionAndCancelCallsItOff) {
    const std::string path = OpenedAndEdited("saved text");

    desktop.answers = {IDCANCEL};
    EXPECT_FALSE(theApp.LogoutRequested());
    EXPECT_EQ(desktop.messages.back().text, "Save changes to \"" + path + "\"?");
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "saved text");

    desktop.answers = {IDNO};
    EXPECT_TRUE(theApp.LogoutRequested());
    EXPECT_EQ(desktop.quits, std::vector<int>{0}) << "No ends the program as Exit does";
    EXPECT_EQ(ReadBytes(path), "saved text");
    EXPECT_EQ(ListFolder(dir.Root()), std::vector<std::string>{"page.html"});

    desktop.quits.clear();
    desktop.answers = {IDYES};
    EXPECT_TRUE(theApp.LogoutRequested());
    EXPECT_EQ(ReadBytes(path), unsaved);
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(desktop.quits.empty()) << "saved: the session ends the program itself";
}

// The progress window of a long load or save lets the event loop run, and a
// signal is handled there: during a load nothing is unsaved and nothing is
// written; during a save the whole text goes to the emergency copy.
TEST_F(EndingTest, ASignalDuringALoadWritesNothingAndDuringASaveKeepsTheWholeText) {
    const std::string path = dir.Path("page.html");
    const std::string bytes = std::string(3 * 131072, 'a') + "end";
    WriteBytes(path, bytes);
    bool raised = false;
    desktop.duringProgress = [&] {
        if (!raised) {
            raised = true;
            ::raise(SIGTERM);
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    {
        platform::EndingWatch watch(theApp.EndingHandlers());
        testing::internal::CaptureStderr();
        theApp.LoadFile(path);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(watch.CaughtSignal(), SIGTERM);
    }
    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGTERM});
    EXPECT_EQ(ListFolder(dir.Root()), std::vector<std::string>{"page.html"});
    EXPECT_TRUE(ReadBytes(path) == bytes);

    AddText(unsaved);
    raised = false;
    desktop.quits.clear();
    {
        platform::EndingWatch watch(theApp.EndingHandlers());
        testing::internal::CaptureStderr();
        Command(IDM_SAVE);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(path + ".varne-unsaved"), std::string::npos) << said;
    }
    desktop.duringProgress = nullptr;
    EXPECT_EQ(desktop.quits, std::vector<int>{128 + SIGTERM});
    EXPECT_TRUE(ReadBytes(path + ".varne-unsaved") == unsaved + bytes);
    EXPECT_TRUE(ReadBytes(path) == unsaved + bytes) << "the save asked for goes on";
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

// A long save lets the event loop run, and the session manager's request can
// come in then: it waits for the save, with no question and no second save of
// the same text meanwhile, and then finds nothing unsaved.
TEST_F(EndingTest, ALogoutDuringASaveWaitsForItAndThenGoesAhead) {
    const std::string path = OpenedAndEdited("saved text");
    const std::string more(3 * 131072, 'x'); // a few blocks, a few progress steps
    AddText(more);
    std::vector<bool> answers;
    desktop.duringProgress = [&] { answers.push_back(theApp.LogoutRequested()); };
    Command(IDM_SAVE);
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_FALSE(answers.empty());
    EXPECT_EQ(answers, std::vector<bool>(answers.size(), true)) << "saved: nothing to ask";
    EXPECT_EQ(desktop.progress.size(), 2u) << "one load and one save, no other";
    EXPECT_TRUE(ReadBytes(path) == unsaved + more);
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(desktop.quits.empty());

    // While a file is read there is nothing unsaved: the logout goes ahead.
    answers.clear();
    theApp.LoadFile(path);
    desktop.duringProgress = nullptr;
    EXPECT_FALSE(answers.empty());
    EXPECT_EQ(answers, std::vector<bool>(answers.size(), true));
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_TRUE(EditorText() == unsaved + more);
}

} // namespace
