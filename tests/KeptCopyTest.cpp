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

using KeptCopyTest = EditorTest;

void SetModified(const std::string& path, int secondsFromNow) {
    const timespec when{std::time(nullptr) + secondsFromNow, 0};
    const timespec times[2] = {when, when};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Keeps the unsaved text as a signal would; returns what was said on stderr.
std::string Preserved() {
    testing::internal::CaptureStderr();
    theApp.PreserveUnsavedText();
    return testing::internal::GetCapturedStderr();
}

TEST_F(KeptCopyTest, ALongNameIsCutAtACharacter) {
    // 125 two-byte characters: the ending leaves room for 241 bytes, then
    // for 239 with "-2", both inside a character.
    std::string name;
    for (int i = 0; i < 125; ++i)
        name += "\xC3\xA9";
    WriteBytes(dir.Path(name), "saved");
    theApp.LoadFile(dir.Path(name));
    AddText("unsaved ");
    WriteBytes(dir.Path(name.substr(0, 240) + ".varne-unsaved"), "an older copy");
    const std::string said = Preserved();
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
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.Path("").c_str(), 1);
    ::setenv("TMPDIR", temporary.Root().c_str(), 1);
    AddText("untitled text");
    for (const std::string& place : {runtime.Root(), temporary.Root()}) {
        ::setenv("XDG_RUNTIME_DIR", place == runtime.Root() ? place.c_str() : "", 1);
        const std::string said = Preserved(), copy = place + "/Untitled.varne-unsaved";
        EXPECT_EQ(ReadBytes(copy), "untitled text");
        EXPECT_NE(said.find(copy), std::string::npos) << said;
        struct stat st {};
        ::stat(copy.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("TMPDIR");
    ::unsetenv("XDG_RUNTIME_DIR");
}

// Each copy alone beside the file, which was written a minute ago.
TEST_F(KeptCopyTest, OpeningAFileOffersWhatWasKeptOfIt) {
    const std::string path = dir.Path("page.html");
    enum Offer { none, unsaved, backup };
    const struct {
        const char* ending;
        int age; // seconds from now
        bool someoneElses;
        Offer offer;
    } copies[] = {
        {".varne-unsaved", 0, false, unsaved},  {".varne-unsaved-3", 0, false, unsaved},
        {".varne-backup", -120, false, backup}, {".varne-unsaved", -120, false, none},
        {".varne-unsaved", 0, true, none},      {".varne-unsavedx", 0, false, none},
        {".varne-unsaved-0", 0, false, none},   {"x.varne-unsaved", 0, false, none},
    };
    for (const auto& copy : copies) {
        SCOPED_TRACE(copy.ending);
        const std::string kept = path + copy.ending;
        WriteBytes(path, "file");
        SetModified(path, -60);
        WriteBytes(kept, "copy");
        SetModified(kept, copy.age);
        if (copy.someoneElses) {
            ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0);
        }
        desktop.questions.clear();
        desktop.choices = {1};
        theApp.LoadFile(path);
        ::unlink(kept.c_str());
        if (copy.offer == none) {
            EXPECT_TRUE(desktop.questions.empty());
            desktop.choices.clear();
            EXPECT_EQ(EditorText(), "file");
            continue;
        }
        const std::string said =
            copy.offer == unsaved
                ? "\"" + kept + "\" holds unsaved text of \"" + path +
                      "\" that Varne kept when it was ended, and it is newer than the file."
                : "A save of \"" + path + "\" did not finish: the file may be incomplete, and \"" +
                      kept + "\" holds what it held before that save.";
        ASSERT_EQ(desktop.questions.size(), 1u);
        EXPECT_EQ(desktop.questions[0].text, said + "\n\nOpen the kept copy instead?");
        EXPECT_EQ(desktop.questions[0].buttons,
                  (std::vector<std::string>{"Open the &File", "Open the Kept &Copy"}));
        EXPECT_EQ(desktop.questions[0].defaultButton, 0);
        EXPECT_EQ(desktop.questions[0].escapeButton, 0);
        EXPECT_EQ(EditorText(), "copy");
        EXPECT_EQ(theApp.filePath, kept);
    }
}

} // namespace
