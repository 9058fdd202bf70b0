// Permission cases, which only mean something for a user the permission bits
// stop: CTest runs these as the unprivileged user nobody.
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/TestSupport.h"

namespace {

class UnprivilegedTest : public EditorTest {
  protected:
    void SetUp() override {
        if (::geteuid() == 0)
            GTEST_SKIP() << "runs as an unprivileged user (see the CTest entry)";
        EditorTest::SetUp();
    }
};

TEST_F(UnprivilegedTest, AnUnreadableFileIsReportedAndChangesNothing) {
    const std::string path = dir.Path("secret.html");
    WriteBytes(path, "secret");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    AddText("current");
    theApp.LoadFile(path);
    EXPECT_EQ(LastMessage(), "Could not open file \"" + path + "\".\n\nPermission denied.");
    EXPECT_EQ(EditorText(), "current");
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(theApp.filePath.empty());
}

TEST_F(UnprivilegedTest, AReadOnlyFileIsNotReplaced) {
    const std::string path = dir.Path("locked.html");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    theApp.LoadFile(path);
    AddText("new ");
    Command(IDM_SAVE);
    EXPECT_EQ(LastMessage(), "Could not save file \"" + path + "\".\n\nPermission denied.");
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(ListFolder(dir.Root()), std::vector<std::string>{"locked.html"});
}

TEST_F(UnprivilegedTest, AWritableFileInAReadOnlyFolderIsWrittenInPlace) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "old bytes");
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(::chmod(dir.Root().c_str(), 0555), 0);
    theApp.LoadFile(path);
    AddText("new ");

    // The copy of the old content goes to the home folder, since the file's
    // own folder takes none; without a place for it nothing is written.
    const std::string home = std::getenv("HOME");
    ::setenv("HOME", "/", 1);
    Command(IDM_SAVE);
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_NE(LastMessage().find("Could not keep a copy of the old content: Permission denied."),
              std::string::npos)
        << LastMessage();
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "old bytes");

    desktop.messages.clear();
    Command(IDM_SAVE);
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "new old bytes");
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    for (const std::string& name : ListFolder(home))
        EXPECT_EQ(name.find(".varne-backup"), std::string::npos) << "left behind: " << name;

    // A new file cannot be made there.
    const std::string fresh = dir.Path("fresh.html");
    AddText("more ");
    desktop.fileNames = {fresh};
    Command(IDM_SAVEAS);
    EXPECT_EQ(LastMessage(), "Could not save file \"" + fresh + "\".\n\nPermission denied.");
    EXPECT_TRUE(theApp.modified);
    EXPECT_FALSE(Exists(fresh));
    EXPECT_EQ(theApp.filePath, path);
    EXPECT_EQ(Caption(), "Varne - " + path);
}

} // namespace
