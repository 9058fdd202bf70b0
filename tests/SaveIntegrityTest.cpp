// A save keeps what the file is: its ACL and extended attributes, the file a
// name was checked for, a file mounted over another, and the old content
// while it is overwritten in place. Each case goes through the real load and
// save paths and checks the disk with the system's own tools.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "document/FileAccess.h"
#include "tests/TestSupport.h"

namespace {

struct stat StatOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

// Runs a shell command and returns what it printed; a failing command fails
// the test.
std::string Shell(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << command << "\n" << output;
    return output;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// Everything the system's tools say about a file besides its bytes.
struct FileTraits {
    std::string acl, attributes;
    mode_t mode;
    uid_t owner;
    gid_t group;

    explicit FileTraits(const std::string& path)
        : acl(Shell("getfacl --absolute-names --omit-header " + Quoted(path))),
          attributes(Shell("getfattr --absolute-names -d -m - -e hex " + Quoted(path))),
          mode(StatOf(path).st_mode), owner(StatOf(path).st_uid), group(StatOf(path).st_gid) {}
};

void ExpectSameTraits(const FileTraits& before, const FileTraits& after) {
    EXPECT_EQ(after.acl, before.acl);
    EXPECT_EQ(after.attributes, before.attributes);
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_EQ(after.owner, before.owner);
    EXPECT_EQ(after.group, before.group);
}

bool IsRoot() {
    return ::geteuid() == 0;
}

class SaveIntegrityTest : public EditorTest {
  protected:
    // Loads the file, adds text at the start and saves.
    void EditAndSave(const std::string& path, const std::string& added) {
        theApp.LoadFile(path);
        AddText(added);
        ASSERT_TRUE(theApp.modified);
        Command(IDM_SAVE);
    }

    bool Saved() { return desktop.messages.empty() && !theApp.modified; }
};

TEST_F(SaveIntegrityTest, TheFileKeepsItsAclAndExtendedAttributes) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    Shell("setfacl -m u:nobody:rw,m::r " + Quoted(path));
    Shell("setfattr -n user.note -v 'from the user' " + Quoted(path));
    const FileTraits before(path);
    ASSERT_NE(before.acl.find("user:nobody:rw-"), std::string::npos) << before.acl;
    ASSERT_NE(before.attributes.find("user.note"), std::string::npos) << before.attributes;
    const ino_t inode = StatOf(path).st_ino;

    EditAndSave(path, "new ");
    EXPECT_TRUE(Saved()) << LastMessage();
    EXPECT_EQ(ReadBytes(path), "new old");
    EXPECT_NE(StatOf(path).st_ino, inode) << "expected a fresh file renamed into place";
    ExpectSameTraits(before, FileTraits(path));
}

// A new file takes the default ACL of its folder; the file it replaces may
// have had none, and then the saved file has none either.
TEST_F(SaveIntegrityTest, AFileWithoutAclGetsNoneFromItsFolder) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    Shell("setfacl -d -m u:nobody:rwx " + Quoted(dir.Root()));
    const FileTraits before(path);
    ASSERT_EQ(before.acl.find("nobody"), std::string::npos) << before.acl;

    EditAndSave(path, "new ");
    EXPECT_TRUE(Saved()) << LastMessage();
    EXPECT_EQ(ReadBytes(path), "new old");
    ExpectSameTraits(before, FileTraits(path));
}

// An unprivileged user can read the file capability root set, but cannot give
// it to a new file: the file is then written in place, keeping the rest.
TEST(SaveIntegrity, AttributesThatCannotBeCopiedMakeTheSaveGoInPlace) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to set up a file for another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Root().c_str(), 0755), 0);
    const std::string folder = dir.Path("nobody");
    const std::string writer = dir.Path("save-writer");
    Shell("cp " + Quoted(SAVE_WRITER) + " " + Quoted(writer));
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string path = folder + "/page.html";
    WriteBytes(path, "old");
    Shell("chown -R nobody:nogroup " + Quoted(folder));
    Shell("setfattr -n user.note -v kept " + Quoted(path));
    Shell("setcap cap_net_bind_service+ep " + Quoted(path));
    const ino_t inode = StatOf(path).st_ino;

    Shell("setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=" + Quoted(folder) + " " +
          Quoted(writer) + " " + Quoted(path) + " 1");
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes, std::string(131072, 'a'));
    EXPECT_EQ(StatOf(path).st_ino, inode) << "expected the file written in place";
    EXPECT_NE(Shell("getfattr --absolute-names -n user.note " + Quoted(path)).find("kept"),
              std::string::npos);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"page.html"});
}

// Someone who may write the folder puts a link to their chosen victim in place
// of the file after it was checked: the victim is never written.
TEST_F(SaveIntegrityTest, AFileSwappedForALinkAfterTheCheckIsNotWrittenThrough) {
    const std::string victim = dir.Path("victim");
    WriteBytes(victim, "precious");
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "old");
    ASSERT_EQ(::link(path.c_str(), dir.Path("second-link").c_str()), 0); // written in place
    theApp.LoadFile(path);
    AddText("new ");

    theApp.onSaveChecked = [&] {
        ASSERT_EQ(::symlink(victim.c_str(), dir.Path("swap").c_str()), 0);
        ASSERT_EQ(::rename(dir.Path("swap").c_str(), path.c_str()), 0);
    };
    Command(IDM_SAVE);
    EXPECT_NE(LastMessage().find("Another file took its place"), std::string::npos)
        << LastMessage();
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(victim), "precious");
    EXPECT_EQ(ReadBytes(dir.Path("second-link")), "old");
    EXPECT_EQ(ListFolder(dir.Root()),
              (std::vector<std::string>{"page.html", "second-link", "victim"}));
}

TEST_F(SaveIntegrityTest, AFileReplacedByAnotherAfterTheCheckIsNotWritten) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "old");
    ASSERT_EQ(::link(path.c_str(), dir.Path("second-link").c_str()), 0);
    theApp.LoadFile(path);
    AddText("new ");

    theApp.onSaveChecked = [&] {
        WriteBytes(dir.Path("other"), "someone else's");
        ASSERT_EQ(::rename(dir.Path("other").c_str(), path.c_str()), 0);
    };
    Command(IDM_SAVE);
    EXPECT_NE(LastMessage().find("Another file took its place"), std::string::npos)
        << LastMessage();
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "someone else's");
    EXPECT_EQ(ReadBytes(dir.Path("second-link")), "old");

    // Their file is not taken for the one Varne read.
    theApp.onSaveChecked = nullptr;
    desktop.answers = {platform::IDNO};
    Command(IDM_SAVE);
    EXPECT_NE(LastMessage().find("has changed on disk"), std::string::npos) << LastMessage();
    EXPECT_EQ(ReadBytes(path), "someone else's");
}

// Single files are often mounted into containers. A rename cannot replace a
// mount point, so the file is written in place.
TEST_F(SaveIntegrityTest, ABindMountedFileIsWrittenInPlace) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to mount";
    ScopedTmpfs otherDisk("1m");
    ASSERT_TRUE(otherDisk.Mounted());
    for (const std::string& source : {dir.Path("source.html"), otherDisk.Path("source.html")}) {
        SCOPED_TRACE(source);
        const std::string path = dir.Path("mounted.html");
        WriteBytes(source, "old");
        WriteBytes(path, "under the mount");
        ASSERT_EQ(::mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr), 0);

        desktop.messages.clear();
        EditAndSave(path, "new ");
        EXPECT_TRUE(Saved()) << LastMessage();
        EXPECT_EQ(ReadBytes(path), "new old");
        EXPECT_EQ(ReadBytes(source), "new old");
        ASSERT_EQ(::umount2(path.c_str(), MNT_DETACH), 0);
        EXPECT_EQ(ReadBytes(path), "under the mount");
        ::unlink(source.c_str());
        ::unlink(path.c_str());
        EXPECT_EQ(ListFolder(dir.Root()), std::vector<std::string>{});
    }
}

// A write that fails part-way through an in-place save has already changed
// the file: the old content is put back from its copy.
TEST_F(SaveIntegrityTest, AnInPlaceWriteThatFailsPartWayPutsTheOldContentBack) {
    const std::string path = dir.Path("page.html");
    const std::string oldBytes(100000, 'o');
    WriteBytes(path, oldBytes);
    ASSERT_EQ(::link(path.c_str(), dir.Path("second-link").c_str()), 0);
    theApp.LoadFile(path);
    Command(IDM_SELECTALL);
    AddText(std::string(1 << 20, 'n'));

    // No write may reach past 300000 bytes: the new text fails a third of the
    // way, the old content fits.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
    rlimit limit{}, before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    limit.rlim_cur = 300000;
    limit.rlim_max = before.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    Command(IDM_SAVE);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_NE(LastMessage().find("File too large"), std::string::npos) << LastMessage();
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), oldBytes);
    EXPECT_EQ(ListFolder(dir.Root()), (std::vector<std::string>{"page.html", "second-link"}));

    // Putting the old content back touched the file, but it is still the file
    // Varne read: the next Save asks nothing.
    const size_t messages = desktop.messages.size();
    Command(IDM_SAVE);
    EXPECT_EQ(desktop.messages.size(), messages) << LastMessage();
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(ReadBytes(dir.Path("second-link")) == EditorText());
}

TEST_F(SaveIntegrityTest, NewFilesGetTheModeTheUmaskGivesAndTheUmaskStays) {
    for (mode_t mask : {mode_t(022), mode_t(027), mode_t(077)}) {
        const mode_t previous = ::umask(mask);
        const std::string path = dir.Path("new-" + std::to_string(mask) + ".html");
        AddText("x");
        desktop.fileNames = {path};
        Command(IDM_SAVEAS);
        EXPECT_EQ(::umask(previous), mask);
        EXPECT_TRUE(Saved()) << LastMessage();
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0666 & ~mask) << "umask " << mask;
    }
}

// Runs the save writer with these arguments where /proc is covered by an
// empty folder (in a mount namespace of its own), under the given umask.
void RunWriterWithoutProc(const std::string& mask, const std::string& arguments) {
    Shell("unshare --mount --propagation private sh -c 'mount -t tmpfs none /proc && umask " +
          mask + " && exec " + Quoted(SAVE_WRITER) + " " + arguments + "'");
}

// Whether a mount namespace whose mounts stay private can be made here (not in
// a chroot whose root is no mount point, for one).
bool PrivateMountsPossible() {
    return std::system("unshare --mount --propagation private true >/dev/null 2>&1") == 0;
}

// Without /proc, the umask is still read right, and new files start with a
// temporary name (an unnamed one could not be linked) that never stays behind.
TEST(SaveIntegrity, WithoutProcModesAreRightAndNoTemporaryStays) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root for a mount namespace";
    if (!PrivateMountsPossible())
        GTEST_SKIP() << "no private mount namespace can be made here";
    TempDir dir;
    std::vector<std::string> expected;
    for (const char* mask : {"027", "077", "002"}) {
        const std::string name = std::string("new-") + mask;
        const std::string path = dir.Path(name);
        RunWriterWithoutProc(mask, Quoted(path) + " 1");
        const mode_t mode = 0666 & ~mode_t(std::stoi(mask, nullptr, 8));
        EXPECT_EQ(StatOf(path).st_mode & 07777, mode) << "umask " << mask;
        EXPECT_TRUE(ReadBytes(path) == std::string(131072, 'a'))
            << "umask " << mask << ": not the 128 KiB written";
        expected.push_back(name);
    }
    // Copies beside a file never replace one another.
    const std::string path = dir.Path("new-027");
    RunWriterWithoutProc("022", Quoted(path) + " 2 .copy");
    RunWriterWithoutProc("022", Quoted(path) + " 1 .copy");
    EXPECT_TRUE(ReadBytes(path + ".copy") == std::string(131072, 'a') + std::string(131072, 'b'))
        << "the first copy is not the two blocks written";
    EXPECT_TRUE(ReadBytes(path + ".copy-2") == std::string(131072, 'a'))
        << "the second copy is not the block written";
    EXPECT_EQ(StatOf(path + ".copy").st_mode & 07777, 0600u);
    expected.insert(expected.end(), {"new-027.copy", "new-027.copy-2"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolder(dir.Root()), expected);
}

} // namespace
