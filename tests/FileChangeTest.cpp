// Nothing that happens to a file outside Varne makes it show wrong text or
// write over someone else's work without asking.
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "document/FileAccess.h"
#include "tests/TestSupport.h"

namespace {

using platform::IDNO;
using platform::IDYES;

// Four blocks and a bit, each byte telling where it was.
std::string Generation(char tag) {
    std::string bytes(4 * 131072 + 100, tag);
    for (size_t i = 0; i < bytes.size(); i += 97)
        bytes[i] = char(i / 97);
    return bytes;
}

// A file last written long ago, as files being opened usually are, so that
// any write now gives it a new modification time.
void WriteOldFile(const std::string& path, const std::string& bytes) {
    WriteBytes(path, bytes);
    const struct timespec longAgo[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), longAgo, 0), 0);
}

class FileChangeTest : public EditorTest {
  protected:
    // Loads a file that change alters part-way through the read: once the
    // first block is in, when the load reports its progress.
    void LoadWhileChanging(const std::string& path, std::function<void()> change) {
        AddText("current text");
        bool done = false;
        desktop.duringProgress = [&] {
            if (!done) {
                done = true;
                change();
            }
        };
        theApp.LoadFile(path);
        desktop.duringProgress = nullptr;
        ASSERT_TRUE(done) << "the read never reached the change";
    }

    void ExpectReadRefused(const std::string& path) {
        EXPECT_EQ(LastMessage(), "Could not read file \"" + path +
                                     "\".\n\nThe file changed while it was being read.");
        EXPECT_EQ(EditorText(), "");
        EXPECT_TRUE(theApp.filePath.empty());
        EXPECT_EQ(Caption(), "Varne - ");
        EXPECT_FALSE(theApp.modified);
        EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0);
    }
};

TEST_F(FileChangeTest, AFileCutShortWhileReadIsNotShown) {
    const std::string path = dir.Path("page.html");
    WriteOldFile(path, Generation('a'));
    LoadWhileChanging(path, [&] { ASSERT_EQ(::truncate(path.c_str(), 2 * 131072), 0); });
    ExpectReadRefused(path);
}

TEST_F(FileChangeTest, AFileGrownWhileReadIsNotShown) {
    const std::string path = dir.Path("page.html");
    WriteOldFile(path, Generation('a'));
    LoadWhileChanging(path, [&] {
        std::FILE* file = std::fopen(path.c_str(), "ab");
        std::fputs("appended", file);
        std::fclose(file);
    });
    ExpectReadRefused(path);
}

TEST_F(FileChangeTest, AFileRewrittenInPlaceWhileReadIsNotShown) {
    // Same size, new bytes where the read has not been yet: only the
    // modification time tells.
    const std::string path = dir.Path("page.html");
    WriteOldFile(path, Generation('a'));
    LoadWhileChanging(path, [&] {
        const std::string newer = Generation('b');
        const int fd = ::open(path.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, newer.data(), newer.size(), 0), ssize_t(newer.size()));
        ::close(fd);
    });
    ExpectReadRefused(path);
}

TEST_F(FileChangeTest, AFileReplacedOrRemovedWhileReadIsNotShown) {
    // The old file is read whole, but the name now holds another one, or none.
    const std::string path = dir.Path("page.html");
    WriteOldFile(path, Generation('a'));
    LoadWhileChanging(path, [&] {
        WriteBytes(dir.Path("new"), Generation('b'));
        ASSERT_EQ(::rename(dir.Path("new").c_str(), path.c_str()), 0);
    });
    ExpectReadRefused(path);

    desktop.messages.clear();
    LoadWhileChanging(path, [&] { ASSERT_EQ(::unlink(path.c_str()), 0); });
    ExpectReadRefused(path);
}

TEST_F(FileChangeTest, AFileLeftAloneWhileReadLoadsWhole) {
    const std::string path = dir.Path("page.html");
    const std::string bytes = Generation('a');
    WriteOldFile(path, bytes);
    // Reading it, or looking at it, changes nothing that matters.
    LoadWhileChanging(path, [&] {
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        ReadBytes(path);
    });
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(EditorText(), bytes);
    EXPECT_EQ(theApp.filePath, path);
}

class SaveConflictTest : public EditorTest {
  protected:
    std::string OpenedAndEdited(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteOldFile(path, bytes);
        theApp.LoadFile(path);
        TypeText("mine ");
        return path;
    }

    // What another program does: a new file renamed over the old one.
    void ReplacedByAnotherProgram(const std::string& path, const std::string& bytes) {
        WriteBytes(dir.Path("theirs.tmp"), bytes);
        ASSERT_EQ(::rename(dir.Path("theirs.tmp").c_str(), path.c_str()), 0);
    }

    std::string Question(const std::string& path) {
        return "\"" + path + "\" has changed on disk since it was opened. Overwrite it?";
    }
};

TEST_F(SaveConflictTest, SaveAsksBeforeWritingOverAFileReplacedSinceItWasOpened) {
    const std::string path = OpenedAndEdited("original");
    ReplacedByAnotherProgram(path, "their version");

    desktop.answers = {IDNO};
    Command(IDM_SAVE);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, Question(path));
    EXPECT_EQ(desktop.messages[0].caption, "Varne");
    EXPECT_EQ(desktop.messages[0].type, platform::MB_YESNO);
    EXPECT_EQ(ReadBytes(path), "their version") << "No writes nothing";
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(EditorText(), "mine original");

    desktop.answers = {IDYES};
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(path), "mine original");
    EXPECT_FALSE(theApp.modified);

    // What was just saved is the file now: the next Save asks nothing.
    TypeText("again ");
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(path), "mine again original");
    EXPECT_EQ(desktop.messages.size(), 2u);
}

TEST_F(SaveConflictTest, SaveAsksAlsoWhenTheFileWasRewrittenInPlace) {
    const std::string path = OpenedAndEdited("original");
    {
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        std::fputs("ORIGINAL", file);
        std::fclose(file);
    }
    desktop.answers = {IDNO};
    Command(IDM_SAVE);
    EXPECT_EQ(LastMessage(), Question(path));
    EXPECT_EQ(ReadBytes(path), "ORIGINAL");
}

TEST_F(SaveConflictTest, NoQuestionWhenTheFileIsUntouchedOrGone) {
    const std::string path = OpenedAndEdited("original");
    Command(IDM_SAVE); // any question would fail the test: none is scripted
    EXPECT_EQ(ReadBytes(path), "mine original");

    TypeText("more ");
    ASSERT_EQ(::unlink(path.c_str()), 0);
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(path), "mine more original");
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

// A file with a second name is written in place, beside a copy of its old
// content that goes again: what Save remembers is the file as written, so the
// next Save asks nothing.
TEST_F(SaveConflictTest, AFileWrittenInPlaceIsKnownAsWritten) {
    const std::string path = OpenedAndEdited("original");
    const std::string second = dir.Path("second.html");
    ASSERT_EQ(::link(path.c_str(), second.c_str()), 0);
    Command(IDM_SAVE);
    TypeText("again ");
    Command(IDM_SAVE);
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(ReadBytes(second), "mine again original") << "the names still share the file";
    EXPECT_EQ(ListFolder(dir.Root()), (std::vector<std::string>{"page.html", "second.html"}));
    EXPECT_FALSE(theApp.modified);

    // Another program's write after that is still noticed.
    WriteBytes(second, "theirs");
    TypeText("x");
    desktop.answers = {IDNO};
    Command(IDM_SAVE);
    EXPECT_EQ(LastMessage(), Question(path));
    EXPECT_EQ(ReadBytes(path), "theirs");
}

TEST_F(SaveConflictTest, SaveAsToAnotherNameIsNotAffected) {
    const std::string path = OpenedAndEdited("original");
    ReplacedByAnotherProgram(path, "their version");
    const std::string other = dir.Path("other.html");
    desktop.fileNames = {other};
    Command(IDM_SAVEAS);
    EXPECT_EQ(ReadBytes(other), "mine original");
    EXPECT_EQ(ReadBytes(path), "their version");

    // From now on Save compares with what was written there.
    TypeText("x");
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(other), "mine xoriginal");
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

TEST_F(SaveConflictTest, ANewDocumentIsGuardedOnceSavedUnderAName) {
    TypeText("draft");
    const std::string path = dir.Path("draft.html");
    desktop.fileNames = {path};
    Command(IDM_SAVE);
    ASSERT_EQ(ReadBytes(path), "draft");
    TypeText(" two");
    ReplacedByAnotherProgram(path, "their version");
    desktop.answers = {IDNO};
    Command(IDM_SAVE);
    EXPECT_EQ(LastMessage(), Question(path));
    EXPECT_EQ(ReadBytes(path), "their version");
}

// Someone who may write the folder puts a link to a file of their choosing,
// or to one that is not there yet, in place of the one that was opened. The
// question says where it points; Yes replaces the link with a new file and
// never writes through it, before the question or after.
TEST_F(SaveConflictTest, APlantedLinkIsReplacedNeverWrittenThrough) {
    const std::string victim = dir.Path("victim");
    for (const bool exists : {true, false}) {
        SCOPED_TRACE(exists ? "a link to a file" : "a link to nothing yet");
        if (exists)
            WriteBytes(victim, "precious");
        const std::string path = OpenedAndEdited("original");
        ASSERT_EQ(::symlink(victim.c_str(), dir.Path("planted").c_str()), 0);
        ASSERT_EQ(::rename(dir.Path("planted").c_str(), path.c_str()), 0);
        desktop.messages.clear();
        desktop.answers = {IDNO, IDYES};
        Command(IDM_SAVE);
        Command(IDM_SAVE);
        ASSERT_EQ(desktop.messages.size(), 2u);
        EXPECT_EQ(desktop.messages[0].text,
                  "\"" + path + "\" is now a symbolic link to \"" + victim +
                      "\", not the file that was opened.\n\nSave the document as a new file in "
                      "place of the link? What the link points to stays as it is.");
        EXPECT_EQ(ReadBytes(path), "mine original");
        EXPECT_EQ(Exists(victim), exists);
        EXPECT_EQ(ReadBytes(victim), exists ? "precious" : "");
        struct stat st;
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        ::unlink(victim.c_str());
    }

    // The link comes after the question was answered, as the save begins.
    struct PlantingDesktop : ScriptedDesktop {
        std::function<void()> plant;
        std::unique_ptr<platform::Progress> ShowProgress(QWidget* owner, const std::string& text,
                                                         int64_t total, bool cancellable) override {
            if (plant)
                std::exchange(plant, nullptr)();
            return ScriptedDesktop::ShowProgress(owner, text, total, cancellable);
        }
    } planting;
    WriteBytes(victim, "precious");
    const std::string path = OpenedAndEdited("original");
    ReplacedByAnotherProgram(path, "their version");
    platform::SetDesktop(&planting);
    planting.answers = {IDYES};
    planting.plant = [&] {
        ASSERT_EQ(::symlink(victim.c_str(), dir.Path("planted").c_str()), 0);
        ASSERT_EQ(::rename(dir.Path("planted").c_str(), path.c_str()), 0);
    };
    Command(IDM_SAVE);
    platform::SetDesktop(&desktop);
    ASSERT_EQ(planting.messages.size(), 2u);
    EXPECT_EQ(planting.messages[0].text, Question(path));
    EXPECT_NE(planting.messages[1].text.find("Another file took its place"), std::string::npos);
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_TRUE(theApp.modified);
}

TEST_F(SaveConflictTest, NoToTheOverwriteQuestionKeepsTheTextWhenClosing) {
    const std::string path = OpenedAndEdited("original");
    ReplacedByAnotherProgram(path, "their version");
    // Save changes? Yes. Overwrite their version? No: nothing is lost.
    desktop.answers = {IDYES, IDNO};
    Command(IDM_NEW);
    EXPECT_EQ(EditorText(), "mine original");
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "their version");
    EXPECT_EQ(theApp.filePath, path);
}

} // namespace
