// What Varne kept of a file is offered back, under a name that can be opened:
// an emergency copy's name is cut at a character, an untitled document's copy
// finds a private place when the home folder takes none, and opening a file
// beside a newer emergency copy, or the old content of a save that never
// finished, offers the copy (the file stays the default).
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/TestSupport.h"

namespace {

void SetModified(const std::string& path, int secondsFromNow) {
    const timespec when{std::time(nullptr) + secondsFromNow, 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

using KeptCopyTest = EditorTest;

TEST_F(KeptCopyTest, ALongNameIsCutAtACharacter) {
    // 125 two-byte characters: the ending leaves room for 241 bytes, then
    // for 239 with "-2", both inside a character.
    std::string name;
    for (int i = 0; i < 125; ++i)
        name += "\xC3\xA9";
    const std::string path = dir.Path(name);
    WriteBytes(path, "saved");
    theApp.LoadFile(path);
    AddText("unsaved ");
    WriteBytes(dir.Path(name.substr(0, 240) + ".varne-unsaved"), "an older copy");
    testing::internal::CaptureStderr();
    theApp.PreserveUnsavedText();
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string copy = dir.Path(name.substr(0, 238) + ".varne-unsaved-2");
    EXPECT_EQ(ReadBytes(copy), "unsaved saved");
    EXPECT_NE(said.find(copy), std::string::npos) << said;
}

// Home on a disk that takes nothing: the session's runtime folder takes the
// copy, else the temporary folder, for its owner alone.
TEST_F(KeptCopyTest, AnUntitledCopyFindsAPrivatePlaceWhenHomeTakesNone) {
    ScopedTmpfs home("1m");
    if (!home.Mounted() || !home.RemountReadOnly())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    TempDir runtime, temporary;
    const char* home0 = std::getenv("HOME");
    const std::string saved = home0 ? home0 : "";
    ::setenv("HOME", home.Path("").c_str(), 1);
    ::setenv("TMPDIR", temporary.Root().c_str(), 1);
    AddText("untitled text");
    for (const std::string& place : {runtime.Root(), temporary.Root()}) {
        ::setenv("XDG_RUNTIME_DIR", place == runtime.Root() ? place.c_str() : "", 1);
        testing::internal::CaptureStderr();
        theApp.PreserveUnsavedText();
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string copy = place + "/Untitled.varne-unsaved";
        EXPECT_EQ(ReadBytes(copy), "untitled text");
        EXPECT_NE(said.find(copy), std::string::npos) << said;
        struct stat st {};
        ::stat(copy.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    ::setenv("HOME", saved.c_str(), 1);
    ::unsetenv("TMPDIR");
    ::unsetenv("XDG_RUNTIME_DIR");
}

// Each copy alone beside the file, which was written a minute ago.
TEST_F(KeptCopyTest, OpeningAFileOffersWhatWasKeptOfIt) {
    const std::string path = dir.Path("page.html");
    const std::string unsaved = "\" holds unsaved text of \"" + path +
                                "\" that Varne kept when it was ended, and it is newer than the "
                                "file.\n\nOpen the kept copy instead?";
    const std::string backup = "A save of \"" + path +
                               "\" did not finish: the file may be incomplete, and \"" + path +
                               ".varne-backup\" holds what it held before that save.\n\nOpen the "
                               "kept copy instead?";
    const struct {
        const char* ending;
        int age; // seconds from now
        bool someoneElses;
        std::string offer; // empty: none
    } copies[] = {
        {".varne-unsaved", 0, false, "\"" + path + ".varne-unsaved" + unsaved},
        {".varne-unsaved-3", 0, false, "\"" + path + ".varne-unsaved-3" + unsaved},
        {".varne-backup", -120, false, backup},
        {".varne-unsaved", -120, false, ""},
        {".varne-unsaved", 0, true, ""},
        {".varne-unsavedx", 0, false, ""},
        {".varne-unsaved-0", 0, false, ""},
        {"x.varne-unsaved", 0, false, ""},
    };
    for (const auto& copy : copies) {
        SCOPED_TRACE(copy.ending);
        WriteBytes(path, "file");
        SetModified(path, -60);
        WriteBytes(path + copy.ending, "copy");
        SetModified(path + copy.ending, copy.age);
        if (copy.someoneElses) {
            ASSERT_EQ(::chown((path + copy.ending).c_str(), 65534, 65534), 0);
        }
        desktop.questions.clear();
        desktop.choices = {1};
        theApp.LoadFile(path);
        ::unlink((path + copy.ending).c_str());
        if (copy.offer.empty()) {
            EXPECT_TRUE(desktop.questions.empty());
            desktop.choices.clear();
            EXPECT_EQ(EditorText(), "file");
            continue;
        }
        ASSERT_EQ(desktop.questions.size(), 1u);
        EXPECT_EQ(desktop.questions[0].text, copy.offer);
        EXPECT_EQ(desktop.questions[0].buttons,
                  (std::vector<std::string>{"Open the &File", "Open the Kept &Copy"}));
        EXPECT_EQ(desktop.questions[0].defaultButton, 0);
        EXPECT_EQ(desktop.questions[0].escapeButton, 0);
        EXPECT_EQ(EditorText(), "copy");
        EXPECT_EQ(theApp.filePath, path + copy.ending);
    }
}

} // namespace
