// The recovery journal: the text it rebuilds once the process that wrote it
// has ended, at whatever moment that was, and how the program offers it back.
#include <QApplication>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "document/Journal.h"
#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

extern char** environ;

namespace {

using platform::IDNO;

// The text a kept journal rebuilds, which holds it whole.
std::string Rebuilt(KeptJournal& kept) {
    EXPECT_TRUE(kept.HoldsItsText());
    kept.StartReading({});
    std::string text;
    char block[4096];
    int64_t n;
    while ((n = kept.Read(block, sizeof block)) > 0)
        text.append(block, size_t(n));
    return n < 0 ? "(failed: " + kept.LastError().reason + ")" : text;
}

// Random changes to a text, applied to a copy of it and to a journal alike.
class Editing {
  public:
    // One insertion in every largeEvery (if any) is of more than 2 MiB.
    Editing(Journal& journal, std::string text, unsigned seed, int largeEvery = 0)
        : journal(journal), text(std::move(text)), random(seed), largeEvery(largeEvery) {}

    void Edit() {
        const size_t position = random() % (text.size() + 1);
        const size_t removed = random() % 3 == 0 ? random() % (text.size() - position + 1) / 2 : 0;
        const bool large = largeEvery > 0 && ++edits % largeEvery == 0;
        std::string inserted(large               ? (5 << 19) + 7
                             : random() % 3 == 1 ? 0
                                                 : 1 + random() % 40,
                             '\0');
        for (char& byte : inserted)
            byte = char(random());
        text.replace(position, removed, inserted);
        journal.Change(int64_t(position), int64_t(removed), int64_t(inserted.size()),
                       [&](char* into, int64_t offset, int64_t count) {
                           std::memcpy(into, inserted.data() + offset, size_t(count));
                       });
    }
    void Batch(int edits) {
        for (int i = 0; i < edits; ++i)
            Edit();
        journal.Flush();
    }
    const std::string& Text() const { return text; }

  private:
    Journal& journal;
    std::string text;
    std::mt19937 random;
    int largeEvery;
    int edits = 0;
};

// CRC-32C, whether the processor computes it or a table does, in one piece or
// in several.
TEST(JournalChecksumTest, IsCrc32cInPiecesAsWhole) {
    using journalrecords::Checksum;
    using journalrecords::ChecksumByTable;
    EXPECT_EQ(Checksum("123456789", 9), 0xE3069283u);
    EXPECT_EQ(ChecksumByTable(0, "123456789", 9), 0xE3069283u);
    std::string bytes(100003, '\0');
    std::mt19937 random(1);
    for (char& byte : bytes)
        byte = char(random());
    const uint32_t whole = Checksum(bytes.data(), bytes.size());
    EXPECT_EQ(ChecksumByTable(0, bytes.data(), bytes.size()), whole);
    EXPECT_EQ(Checksum(Checksum(bytes.data(), 12345), bytes.data() + 12345, bytes.size() - 12345),
              whole);
}

class JournalTest : public ::testing::Test {
  protected:
    Journal::Settings Settings(int64_t compactAt = int64_t(16) << 20, int64_t streamAt = int64_t(4)
                                                                                         << 20) {
        Journal::Settings settings;
        settings.folder = folder;
        settings.compactAt = compactAt;
        settings.streamAt = streamAt;
        return settings;
    }

    std::unique_ptr<KeptJournal> OnlyKept(const std::string& path = "") {
        auto found = FindKeptJournals(folder, path);
        EXPECT_EQ(found.size(), 1u);
        return found.empty() ? nullptr : std::move(found.front());
    }

    std::vector<std::string> Files() { return ListFolder(folder); }

    TempDir dir;
    const std::string folder = dir.Path("state/varne");
};

// Inserts, deletions and replacements, flushed in batches, with and without
// compaction into snapshots on the way, and with insertions large enough to
// go to the writer a block at a time.
TEST_F(JournalTest, EveryChangeFlushedIsRebuiltExactly) {
    struct Case {
        unsigned seed;
        int batches;
        int64_t compactAt;
        int64_t streamAt;
        int largeEvery;
    };
    for (const Case& c : {Case{1, 40, 16 << 20, 4 << 20, 0}, Case{2, 200, 2048, 4 << 20, 0},
                          Case{3, 60, 1, 4 << 20, 0}, Case{4, 60, 16 << 20, 20, 0},
                          Case{5, 12, 16 << 20, 4 << 20, 9}, Case{6, 12, 4 << 20, 1 << 20, 7}}) {
        std::string expected;
        {
            Journal journal(Settings(c.compactAt, c.streamAt));
            journal.Begin(JournalBase{});
            Editing editing(journal, "", c.seed, c.largeEvery);
            for (int b = 0; b < c.batches; ++b)
                editing.Batch(1 + b % 7);
            expected = editing.Text();
        }
        auto kept = OnlyKept();
        ASSERT_TRUE(kept);
        EXPECT_TRUE(Rebuilt(*kept) == expected) << "seed " << c.seed;
        EXPECT_EQ(kept->Length(), int64_t(expected.size()));
        kept->Remove();
        EXPECT_TRUE(Files().empty());
    }
}

// A write cut short anywhere in the last batch, or a byte of it damaged,
// loses that batch and nothing before it; damage earlier loses from there on.
// The journal was being written by a journal object alive in this process:
// while it was, it was not offered.
TEST_F(JournalTest, ACutOrDamagedBatchFallsBackToTheWholeOneBefore) {
    std::vector<std::string> texts;
    std::vector<off_t> ends;
    {
        Journal journal(Settings());
        journal.Begin(JournalBase{});
        Editing editing(journal, "", 7);
        for (int b = 0; b < 3; ++b) {
            editing.Batch(5);
            ASSERT_TRUE(journal.WaitUntilWritten(5000));
            EXPECT_TRUE(FindKeptJournals(folder, "").empty()) << "its writer holds it";
            struct stat st;
            ASSERT_EQ(Files().size(), 1u);
            ASSERT_EQ(::stat((folder + "/" + Files()[0]).c_str(), &st), 0);
            texts.push_back(editing.Text());
            ends.push_back(st.st_size);
        }
    }
    const std::string path = folder + "/" + Files()[0];
    const std::string whole = ReadBytes(path);
    struct Damage {
        off_t at; // the byte changed, or where the file is cut
        bool cut;
        size_t expected; // the batch whose text comes back
    };
    std::vector<Damage> damages;
    for (off_t at = ends[1]; at < ends[2]; at += 3)
        damages.push_back({at, true, 1});
    for (off_t at = ends[1]; at < ends[2]; at += 5)
        damages.push_back({at, false, 1});
    damages.push_back({ends[0] + 10, false, 0});
    damages.push_back({ends[2], true, 2});
    for (const Damage& damage : damages) {
        std::string bytes = whole;
        if (damage.cut)
            bytes.resize(size_t(damage.at));
        else
            bytes[size_t(damage.at)] ^= 0x20;
        WriteBytes(path, bytes);
        auto kept = OnlyKept();
        ASSERT_TRUE(kept);
        EXPECT_TRUE(Rebuilt(*kept) == texts[damage.expected])
            << (damage.cut ? "cut at " : "damaged at ") << damage.at;
    }
    // With no whole batch at all, it holds nothing to offer and goes.
    WriteBytes(path, whole.substr(0, size_t(ends[0] - 1)));
    EXPECT_TRUE(FindKeptJournals(folder, "").empty());
    EXPECT_TRUE(Files().empty());
}

// The file's bytes are copied into the journal after its first batch, so the
// text survives the file being replaced; a file replaced before that cannot
// be copied, and the journal asks for the text instead.
TEST_F(JournalTest, TheFileIsCopiedSoTheTextSurvivesItsReplacement) {
    const std::string path = dir.Path("page.html");
    const std::string base = "<html>\r\n<p>the file as read</p>\0\xFF</html>\n";
    for (const bool replacedFirst : {false, true}) {
        WriteBytes(path, base);
        JournalBase start{path, FileIdentity{}, int64_t(base.size())};
        ASSERT_TRUE(IdentifyFile(path, *start.file));
        if (replacedFirst) {
            std::remove(path.c_str());
            WriteBytes(path, "another program's text");
        }
        int asked = 0;
        std::string expected;
        {
            Journal::Settings settings = Settings();
            settings.snapshotWanted = [&] { ++asked; };
            Journal journal(settings);
            journal.Begin(start);
            Editing editing(journal, base, 11);
            editing.Batch(6);
            ASSERT_TRUE(journal.WaitUntilWritten(5000));
            EXPECT_EQ(journal.SnapshotWanted(), replacedFirst);
            expected = editing.Text();
            if (journal.SnapshotWanted()) {
                journal.Snapshot(int64_t(expected.size()),
                                 [&](char* into, int64_t offset, int64_t count) {
                                     std::memcpy(into, expected.data() + offset, size_t(count));
                                 });
                journal.Flush();
            }
        }
        EXPECT_EQ(asked, replacedFirst ? 1 : 0);
        std::remove(path.c_str());
        WriteBytes(path, "changed since");
        auto kept = OnlyKept(path);
        ASSERT_TRUE(kept);
        EXPECT_TRUE(kept->HoldsItsText());
        EXPECT_EQ(kept->BaseFile(), start.file);
        EXPECT_TRUE(Rebuilt(*kept) == expected);
        kept->Remove();
    }
}

// A full disk fails a batch, which is written with the next once there is
// room; a large change that fails part-way leaves the journal at its last
// whole batch until the text comes whole, as the program hands it over when
// asked. Nothing that was flushed once there was room is lost.
TEST_F(JournalTest, WritesThatFailForWantOfRoomAreMadeGoodOnceThereIsRoom) {
    ScopedTmpfs disk("256k");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    Journal::Settings settings = Settings(16 << 20, 8 << 10);
    settings.folder = disk.Path("varne");
    std::vector<std::string> failures;
    settings.failed = [&](const std::string& reason) { failures.push_back(reason); };
    auto fillDisk = [&] {
        std::string ballast(300 << 10, 'b');
        WriteBytes(disk.Path("ballast"), ballast);
    };
    auto rebuilt = [&] {
        auto found = FindKeptJournals(settings.folder, "");
        const std::string text = found.size() == 1 ? Rebuilt(*found[0]) : "(no journal)";
        if (!found.empty())
            found[0]->Remove();
        return text;
    };
    std::string expected;
    {
        Journal journal(settings);
        journal.Begin(JournalBase{});
        Editing editing(journal, "", 21);
        editing.Batch(3);
        ASSERT_TRUE(journal.WaitUntilWritten(5000));
        fillDisk();
        editing.Batch(400); // more than the room left in the file's last page
        ASSERT_TRUE(journal.WaitUntilWritten(5000));
        editing.Batch(400);
        ASSERT_TRUE(journal.WaitUntilWritten(5000));
        EXPECT_EQ(failures.size(), 1u) << "a full disk is said once";
        std::remove(disk.Path("ballast").c_str());
        editing.Batch(3);
        EXPECT_FALSE(journal.SnapshotWanted());
        expected = editing.Text();
    }
    EXPECT_TRUE(rebuilt() == expected) << "the batches that failed came after all";

    {
        Journal journal(settings);
        journal.Begin(JournalBase{});
        Editing editing(journal, "", 22);
        editing.Batch(3);
        ASSERT_TRUE(journal.WaitUntilWritten(5000));
        fillDisk();
        std::string large(40 << 10, 'L');
        journal.Change(0, 0, int64_t(large.size()), [&](char* into, int64_t offset, int64_t count) {
            std::memcpy(into, large.data() + offset, size_t(count));
        });
        journal.Flush();
        ASSERT_TRUE(journal.WaitUntilWritten(5000));
        EXPECT_TRUE(journal.SnapshotWanted());
        std::remove(disk.Path("ballast").c_str());
        expected = large + editing.Text();
        journal.Snapshot(int64_t(expected.size()), [&](char* into, int64_t offset, int64_t count) {
            std::memcpy(into, expected.data() + offset, size_t(count));
        });
        journal.Flush();
    }
    EXPECT_TRUE(rebuilt() == expected);
}

// In a folder of its own that only its owner may enter, even one made open
// before; never beside the document.
TEST_F(JournalTest, JournalsAreForTheirOwnerAloneAndNeverBesideTheDocument) {
    ASSERT_EQ(::mkdir(dir.Path("state").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string path = dir.Path("site/index.html");
    ::mkdir(dir.Path("site").c_str(), 0755);
    WriteBytes(path, "text");
    JournalBase start{path, FileIdentity{}, 4};
    ASSERT_TRUE(IdentifyFile(path, *start.file));
    Journal journal(Settings());
    journal.Begin(start);
    Editing(journal, "text", 2).Batch(2);
    ASSERT_TRUE(journal.WaitUntilWritten(5000));
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(Files().size(), 1u);
    ASSERT_EQ(::stat((folder + "/" + Files()[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ListFolder(dir.Path("site")), std::vector<std::string>{"index.html"});
}

// ---------------------------------------------------------------------------
// The program: what it journals, when the journal goes, and what it offers.

class RecoveryTest : public EditorTest {
  protected:
    // The program ends and starts again, as after any ending; without a file
    // to open, it offers the untitled documents kept.
    void Restart(bool withoutAFile = false) {
        theApp.ShutDown();
        theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
        if (withoutAFile)
            theApp.OfferUntitledRecovery();
    }

    std::vector<std::string> Journals() { return ListFolder(stateDir.Path("varne")); }

    // The file was written an hour ago, so that whatever is kept of it
    // now is newer.
    std::string OpenedAndEdited(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteBytes(path, bytes);
        const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), hourAgo, 0);
        theApp.LoadFile(path);
        TypeText("<b>typed</b>");
        theApp.SendEditor(SCI_GOTOPOS, 3);
        TypeText("x");
        Command(IDM_UNDO);
        Command(IDM_UNDO);
        Command(IDM_REDO);
        theApp.SendEditor(SCI_SETSEL, 0, 5);
        Command(IDM_DELETE);
        return path;
    }

    const std::vector<std::string> fileAnswers = {"&Recover Changes", "&Discard Changes",
                                                  "&Open File As It Is"};
};

TEST_F(RecoveryTest, ChangesComeBackWhenTheFileIsOpenedAndGoOnceSaved) {
    const std::string path = OpenedAndEdited("<p>saved\0\r\n</p>");
    const std::string edited = EditorText();
    ASSERT_TRUE(theApp.SyncJournal(5000));
    ASSERT_EQ(Journals().size(), 1u);
    Restart();

    desktop.choices = {0};
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.questions.size(), 1u);
    const QuestionRecord& question = desktop.questions[0];
    EXPECT_NE(question.text.find("changes to \"" + path + "\""), std::string::npos)
        << question.text;
    EXPECT_NE(question.text.find(" on "), std::string::npos) << "says when: " << question.text;
    EXPECT_EQ(question.buttons, fileAnswers);
    EXPECT_EQ(question.defaultButton, 0);
    EXPECT_EQ(question.escapeButton, 2);
    EXPECT_TRUE(EditorText() == edited);
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(MenuEnabled(IDM_SAVE));
    EXPECT_EQ(Caption(), "Varne - " + path);
    EXPECT_EQ(theApp.SendEditor(SCI_CANUNDO), 0);

    // Undoing back to the text as recovered leaves it unsaved, and what is
    // typed meanwhile is journaled on top of the recovered changes.
    TypeText("more");
    Command(IDM_UNDO);
    EXPECT_TRUE(theApp.modified);
    TypeText("!");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    const std::string again = EditorText();
    Restart();
    desktop.choices = {0};
    theApp.LoadFile(path);
    EXPECT_TRUE(EditorText() == again);

    Command(IDM_SAVE);
    EXPECT_TRUE(ReadBytes(path) == again);
    EXPECT_FALSE(theApp.modified);
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());
    Restart();
    theApp.LoadFile(path); // no question
    EXPECT_TRUE(EditorText() == again);
}

TEST_F(RecoveryTest, DiscardRemovesTheChangesAndOpenAsItIsKeepsThem) {
    const std::string path = OpenedAndEdited("saved");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    Restart();
    desktop.choices = {2};
    theApp.LoadFile(path);
    EXPECT_EQ(EditorText(), "saved");
    EXPECT_FALSE(theApp.modified);
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_EQ(Journals().size(), 1u) << "kept for later";

    Restart();
    desktop.choices = {1};
    theApp.LoadFile(path);
    EXPECT_EQ(desktop.questions.size(), 2u);
    EXPECT_EQ(EditorText(), "saved");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());
}

// The benchmark compares Varne with the same Varne started without a journal:
// that one keeps nothing, and so leaves nothing to offer.
TEST_F(RecoveryTest, StartedWithoutAJournalNothingIsKeptOrOffered) {
    theApp.journalWanted = false;
    Restart();
    theApp.journalWanted = true; // from the next start on
    const std::string path = OpenedAndEdited("saved");
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());
    Restart();
    theApp.LoadFile(path);
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(EditorText(), "saved");
}

// Ended by a signal, Varne keeps both an emergency copy and the journal; the
// journal is offered first, and the copy only when its changes are not
// recovered.
TEST_F(RecoveryTest, RecoveredChangesMakeTheEmergencyCopyQuestionNeedless) {
    const std::string path = OpenedAndEdited("saved");
    const std::string edited = EditorText();
    testing::internal::CaptureStderr();
    theApp.PreserveUnsavedText();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(Exists(path + ".varne-unsaved"));
    Restart();
    desktop.choices = {2, 0}; // keep the changes for later, then open the file
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.questions.size(), 2u);
    EXPECT_EQ(desktop.questions[1].buttons[0], "Open the &File");
    EXPECT_EQ(EditorText(), "saved");

    Restart();
    desktop.choices = {0};
    theApp.LoadFile(path);
    EXPECT_EQ(desktop.questions.size(), 3u) << "one question more, the journal's";
    EXPECT_TRUE(EditorText() == edited);
}

// The changes cannot be made to a file someone else has changed since; the
// text comes back as an untitled document, and is offered again at start-up
// until it is saved or discarded.
TEST_F(RecoveryTest, AFileChangedSinceGivesTheTextBackUntitled) {
    const std::string path = OpenedAndEdited("<p>as read</p>");
    const std::string edited = EditorText();
    ASSERT_TRUE(theApp.SyncJournal(5000));
    Restart();
    std::remove(path.c_str());
    WriteBytes(path, "another program's version");

    desktop.choices = {0};
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.questions.size(), 1u);
    EXPECT_NE(desktop.questions[0].text.find("has changed on disk since"), std::string::npos)
        << desktop.questions[0].text;
    EXPECT_EQ(desktop.questions[0].buttons[0], "&Recover as Untitled");
    EXPECT_TRUE(EditorText() == edited);
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "another program's version");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_EQ(Journals(), std::vector<std::string>{"untitled.journal"});

    desktop.choices = {0};
    Restart(true);
    ASSERT_EQ(desktop.questions.size(), 2u);
    EXPECT_NE(desktop.questions[1].text.find("untitled document"), std::string::npos);
    EXPECT_TRUE(EditorText() == edited);
    EXPECT_TRUE(theApp.modified);
}

// A file named on the command line that does not exist yet: its changes
// come back under its name while it still does not exist.
TEST_F(RecoveryTest, ANewFileFromTheCommandLineGetsItsChangesBack) {
    const std::string path = dir.Path("new.html");
    theApp.OpenFromCommandLine(path);
    TypeText("<p>not saved yet</p>");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    Restart();
    desktop.choices = {0};
    theApp.OpenFromCommandLine(path);
    ASSERT_EQ(desktop.questions.size(), 1u);
    EXPECT_EQ(desktop.questions[0].buttons, fileAnswers);
    EXPECT_EQ(EditorText(), "<p>not saved yet</p>");
    EXPECT_EQ(Caption(), "Varne - " + path);
    EXPECT_TRUE(theApp.modified);
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(path), "<p>not saved yet</p>");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());
}

TEST_F(RecoveryTest, AnUntitledDocumentIsOfferedBackAtStartUp) {
    TypeText("<p>never saved</p>");
    AddText(std::string("\0\r\xC3\xA9", 4));
    const std::string typed = EditorText();
    ASSERT_TRUE(theApp.SyncJournal(5000));
    desktop.choices = {2};
    Restart(true);
    EXPECT_EQ(EditorText(), "") << "kept for later";
    ASSERT_EQ(desktop.questions.size(), 1u);
    EXPECT_EQ(desktop.questions[0].buttons,
              (std::vector<std::string>{"&Recover Text", "&Discard Changes", "&Keep for Later"}));

    desktop.choices = {0};
    Restart(true);
    EXPECT_TRUE(EditorText() == typed);
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(Caption(), "Varne - ");
}

// Saved, or given up with No: nothing is left to recover. A save that fails
// keeps the journal; reading a file or starting a new document makes none.
TEST_F(RecoveryTest, TheJournalGoesWithSaveAndNoButStaysAfterAFailedSave) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "text");
    theApp.LoadFile(path);
    Command(IDM_NEW);
    theApp.LoadFile(path);
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty()) << "a load or New is no change";

    TypeText("typed ");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_EQ(Journals().size(), 1u);
    Command(IDM_SAVE);
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());

    TypeText("more ");
    ASSERT_TRUE(theApp.SyncJournal(5000));
    desktop.answers = {IDNO};
    Command(IDM_EXIT);
    EXPECT_EQ(desktop.quits, std::vector<int>{0});
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_TRUE(Journals().empty());

    ScopedTmpfs disk("1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string onDisk = disk.Path("page.html");
    WriteBytes(onDisk, "text");
    theApp.LoadFile(onDisk);
    TypeText("unsaved ");
    ASSERT_TRUE(disk.RemountReadOnly());
    Command(IDM_SAVE);
    EXPECT_TRUE(theApp.modified);
    ASSERT_TRUE(theApp.SyncJournal(5000));
    EXPECT_EQ(Journals().size(), 1u);
}

// ---------------------------------------------------------------------------
// Killed without warning: a helper process edits the file in the real program
// objects and is killed with SIGKILL at a random moment.

class KilledTypist {
  public:
    KilledTypist(const std::string& path, const std::string& log, const std::string& state,
                 unsigned seed) {
        std::vector<std::string> arguments = {"/usr/bin/env",
                                              "XDG_STATE_HOME=" + state,
                                              "QT_QPA_PLATFORM=offscreen",
                                              JOURNAL_TYPIST,
                                              path,
                                              log,
                                              std::to_string(seed)};
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        // What Qt says on its way goes to the log folder.
        posix_spawn_file_actions_t output;
        posix_spawn_file_actions_init(&output);
        posix_spawn_file_actions_addopen(&output, 1, (log + "/typist.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&output, 1, 2);
        if (::posix_spawn(&pid, argv[0], &output, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&output);
    }
    ~KilledTypist() { Kill(); }
    bool Running() const { return pid > 0; }
    void Kill() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }

  private:
    pid_t pid = -1;
};

class KillTest : public EditorTest {
  protected:
    void TearDown() override {
        ::setenv("XDG_STATE_HOME", stateDir.Root().c_str(), 1);
        EditorTest::TearDown();
    }

    // The last batch number in one of the typist's logs; -1 for none.
    int64_t Last(const std::string& log) {
        std::istringstream lines(ReadBytes(log));
        int64_t last = -1, batch;
        while (lines >> batch)
            last = std::max(last, batch);
        return last;
    }
    // The last batch the typist saw on disk before it was killed; 0 for none.
    int64_t LastCommitted(const std::string& log) {
        return std::max<int64_t>(Last(log + "/committed"), 0);
    }

    void StartUpWithJournalsIn(const std::string& state) {
        theApp.ShutDown();
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
    }
};

TEST_F(KillTest, TheRecoveredTextIsAlwaysOneFlushedAndNoneOlderThanTheLastFlushBeforeTheKill) {
    std::mt19937 random(std::random_device{}());
    const unsigned seed = random();
    SCOPED_TRACE("seed " + std::to_string(seed));
    random.seed(seed);
    std::string original;
    for (int i = 0; i < 400; ++i)
        original += "<p class=\"c" + std::to_string(i) + "\">line &amp; more</p>\n";
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir work;
        const std::string path = work.Path("page.html");
        const std::string log = work.Path("log");
        ASSERT_EQ(::mkdir(log.c_str(), 0700), 0);
        WriteBytes(path, original);
        {
            KilledTypist typist(path, log, work.Path("state"), random());
            ASSERT_TRUE(typist.Running());
            std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 1700));
        }
        const int64_t committed = LastCommitted(log);
        StartUpWithJournalsIn(work.Path("state"));
        desktop.choices = {0};
        desktop.questions.clear();
        theApp.LoadFile(path);
        EXPECT_TRUE(ReadBytes(path) == original) << "the file itself is never written";
        const std::string recovered = EditorText();
        if (desktop.questions.empty()) {
            // Nothing flushed, or undone back to the file since the last flush.
            EXPECT_TRUE(committed == 0 || Last(log + "/unchanged") >= committed)
                << "the changes flushed up to batch " << committed << " were lost";
            EXPECT_TRUE(recovered == original);
        } else {
            bool found = false;
            for (int64_t batch = std::max<int64_t>(committed, 1); !found; ++batch) {
                const std::string name = log + "/text-" + std::to_string(batch);
                if (!Exists(name))
                    break;
                found = ReadBytes(name) == recovered;
            }
            EXPECT_TRUE(found) << "the recovered text (" << recovered.size()
                               << " bytes) is no text flushed at or after batch " << committed;
        }
        desktop.choices.clear();
        StartUpWithJournalsIn(stateDir.Root());
    }
}

// Another process edits the file: its journal is its own, not offered here.
TEST_F(KillTest, AJournalOfARunningProcessIsLeftAlone) {
    TempDir work;
    const std::string path = work.Path("page.html");
    const std::string log = work.Path("log");
    ASSERT_EQ(::mkdir(log.c_str(), 0700), 0);
    WriteBytes(path, "<p>text</p>\n");
    KilledTypist typist(path, log, work.Path("state"), 5);
    ASSERT_TRUE(typist.Running());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (LastCommitted(log) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GT(LastCommitted(log), 0) << "the typist wrote no journal";

    StartUpWithJournalsIn(work.Path("state"));
    theApp.LoadFile(path);
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(EditorText(), "<p>text</p>\n");
    EXPECT_TRUE(FindKeptJournals(work.Path("state/varne"), path).empty());
    EXPECT_EQ(ListFolder(work.Path("state/varne")).size(), 1u);
    typist.Kill();
    EXPECT_EQ(FindKeptJournals(work.Path("state/varne"), path).size(), 1u);
}

} // namespace
