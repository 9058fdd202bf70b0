// What Varne kept of a file is offered back, under a name that can be opened:
// an emergency copy's name is cut at a character, an untitled document's copy
// finds a private place when the home folder takes none, and opening a file
// beside a newer emergency copy, or beside the old content of a save that
// never finished, says so and offers the copy (the file stays the default).
#include <QApplication>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "document/FileAccess.h"
#include "tests/TestSupport.h"

namespace {

// Whether bytes are whole UTF-8 characters (no character cut short).
bool IsUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).toUtf8() ==
           QByteArray(bytes.data(), qsizetype(bytes.size()));
}

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::string& value) : name(name) {
        const char* old = std::getenv(name);
        had = old != nullptr;
        if (had)
            previous = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (had)
            ::setenv(name, previous.c_str(), 1);
        else
            ::unsetenv(name);
    }

  private:
    const char* name;
    bool had = false;
    std::string previous;
};

class KeptCopyTest : public EditorTest {
  protected:
    // Keeps the unsaved text as an unchosen ending does; returns stderr.
    std::string Preserve() {
        testing::internal::CaptureStderr();
        theApp.PreserveUnsavedText();
        return testing::internal::GetCapturedStderr();
    }

    // Gives the file a modification time seconds from now.
    void Touch(const std::string& path, int seconds) {
        const struct timespec when[2] = {{std::time(nullptr) + seconds, 0},
                                         {std::time(nullptr) + seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), when, 0), 0);
    }

    std::string Offer(const std::string& copy, const std::string& file) {
        return "\"" + copy + "\" holds unsaved text of \"" + file +
               "\" that Varne kept when it was ended, and it is newer than the file.\n\nOpen "
               "the kept copy instead?";
    }

    TempDir home;
    ScopedEnvironment homeSetting{"HOME", home.Root()};
};

TEST_F(KeptCopyTest, ALongNameIsCutAtACharacter) {
    // 250 bytes of two-byte characters: the ending leaves room for 241, which
    // would cut the 121st character in two.
    std::string name;
    for (int i = 0; i < 125; ++i)
        name += "\xC3\xA9";
    const std::string path = dir.Path(name);
    WriteBytes(path, "saved");
    theApp.LoadFile(path);
    AddText("unsaved ");
    WriteBytes(dir.Path(name.substr(0, 240) + ".varne-unsaved"), "an older copy");
    const std::string said = Preserve();
    const std::vector<std::string> names = ListFolder(dir.Root());
    ASSERT_EQ(names.size(), 3u);
    for (const std::string& kept : names) {
        EXPECT_TRUE(IsUtf8(kept)) << kept;
        EXPECT_LE(kept.size(), 255u);
    }
    const std::string second = dir.Path(name.substr(0, 238) + ".varne-unsaved-2");
    EXPECT_EQ(ReadBytes(second), "unsaved saved");
    EXPECT_NE(said.find(second), std::string::npos) << said;
}

// The home folder on a disk that takes nothing: the session's runtime folder,
// else the temporary folder, takes the copy, for its owner alone.
TEST_F(KeptCopyTest, AnUntitledCopyFindsAPrivatePlaceWhenHomeTakesNone) {
    ScopedTmpfs readOnlyHome("1m");
    if (!readOnlyHome.Mounted() || !readOnlyHome.RemountReadOnly())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    ScopedEnvironment homeSetting("HOME", readOnlyHome.Path(""));
    TempDir runtime, temporary;
    ScopedEnvironment runtimeSetting("XDG_RUNTIME_DIR", runtime.Root());
    ScopedEnvironment temporarySetting("TMPDIR", temporary.Root());
    AddText("untitled text");

    std::string said = Preserve();
    const std::string inRuntime = runtime.Path("Untitled.varne-unsaved");
    EXPECT_EQ(ReadBytes(inRuntime), "untitled text");
    EXPECT_NE(said.find(inRuntime), std::string::npos) << said;
    struct stat st;
    ASSERT_EQ(::stat(inRuntime.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", "");
    said = Preserve();
    const std::string inTemporary = temporary.Path("Untitled.varne-unsaved");
    EXPECT_EQ(ReadBytes(inTemporary), "untitled text");
    EXPECT_NE(said.find(inTemporary), std::string::npos) << said;
    ASSERT_EQ(::stat(inTemporary.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(KeptCopyTest, OpeningAFileOffersANewerEmergencyCopy) {
    const std::string path = dir.Path("page.html");
    const std::string copy = path + ".varne-unsaved";
    WriteBytes(path, "old");
    WriteBytes(copy, "kept");
    Touch(path, -60);

    desktop.choices = {0}; // the file, as asked
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.questions.size(), 1u);
    const QuestionRecord& asked = desktop.questions[0];
    EXPECT_EQ(asked.text, Offer(copy, path));
    EXPECT_EQ(asked.caption, "Varne");
    EXPECT_EQ(asked.buttons, (std::vector<std::string>{"Open the &File", "Open the Kept &Copy"}));
    EXPECT_EQ(asked.defaultButton, 0);
    EXPECT_EQ(asked.escapeButton, 0);
    EXPECT_EQ(EditorText(), "old");
    EXPECT_EQ(theApp.filePath, path);

    desktop.choices = {1};
    theApp.LoadFile(path);
    EXPECT_EQ(EditorText(), "kept");
    EXPECT_EQ(theApp.filePath, copy);
    EXPECT_EQ(ReadBytes(path), "old");

    // Of several, the newest.
    WriteBytes(path + ".varne-unsaved-2", "kept later");
    Touch(copy, -30);
    desktop.choices = {1};
    theApp.LoadFile(path);
    EXPECT_EQ(desktop.questions.back().text, Offer(path + ".varne-unsaved-2", path));
    EXPECT_EQ(EditorText(), "kept later");
}

// A backup outlives its save only when that save did not finish; the file
// was written after it, so its age says nothing.
TEST_F(KeptCopyTest, OpeningAFileOffersTheOldContentOfAnUnfinishedSave) {
    const std::string path = dir.Path("page.html");
    const std::string backup = path + ".varne-backup";
    WriteBytes(backup, "whole old content");
    Touch(backup, -60);
    WriteBytes(path, "whole old con"); // torn
    desktop.choices = {1};
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.questions.size(), 1u);
    EXPECT_EQ(desktop.questions[0].text,
              "A save of \"" + path + "\" did not finish: the file may be incomplete, and \"" +
                  backup +
                  "\" holds what it held before that save.\n\nOpen the kept copy "
                  "instead?");
    EXPECT_EQ(EditorText(), "whole old content");
}

// Nothing is asked for a copy older than the file, for names that only look
// like a copy's, nor for a file someone else put there.
TEST_F(KeptCopyTest, OnlyTheOwnersNewerCopiesAreOffered) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "current");
    for (const char* ending : {".varne-unsaved", ".varne-unsavedx", ".varne-unsaved-x",
                               ".varne-unsaved-0", ".varne-backup.old", "x.varne-unsaved"})
        WriteBytes(path + ending, "not offered");
    Touch(path + ".varne-unsaved", -60);
    WriteBytes(dir.Path("other.html.varne-unsaved"), "another file's copy");
    WriteBytes(path + ".varne-unsaved-3", "someone else's");
    ASSERT_EQ(::chown((path + ".varne-unsaved-3").c_str(), 65534, 65534), 0);
    theApp.LoadFile(path); // any question fails the test: none is scripted
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(EditorText(), "current");
}

} // namespace
