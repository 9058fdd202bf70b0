// The recovery journal: the text it rebuilds once the process that wrote it
// has ended, at whatever moment that was, and how the program offers it back.
#include <QApplication>
#include <QProcess>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include "document/Journal.h"
#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

using namespace std::string_literals;

JournalFiller From(const std::string& bytes) {
    return [&bytes](char* into, int64_t offset, int64_t count) {
        std::memcpy(into, bytes.data() + offset, size_t(count));
    };
}

// Random changes to a text, made to a copy of it and to a journal alike, and
// flushed in batches; one insertion in every largeEvery (if any) is of more
// than 2 MiB.
struct Editing {
    Journal& journal;
    std::string text;
    std::mt19937 random;
    int largeEvery = 0;
    int edits = 0;

    void Batch(int count) {
        for (int i = 0; i < count; ++i) {
            const size_t at = random() % (text.size() + 1);
            const size_t removed = random() % 3 == 0 ? random() % (text.size() - at + 1) / 2 : 0;
            const bool large = largeEvery > 0 && ++edits % largeEvery == 0;
            std::string inserted(large               ? (5 << 19) + 7
                                 : random() % 3 == 1 ? 0
                                                     : 1 + random() % 40,
                                 '\0');
            for (char& byte : inserted)
                byte = char(random());
            text.replace(at, removed, inserted);
            journal.Change(int64_t(at), int64_t(removed), int64_t(inserted.size()), From(inserted));
        }
        journal.Flush();
    }
};

// CRC-32C, whether the processor computes it or a table does, in one piece or
// in several.
TEST(JournalChecksumTest, IsCrc32cInPiecesAsWhole) {
    using journalrecords::Checksum;
    std::string bytes(100003, '\0');
    std::mt19937 random(1);
    for (char& byte : bytes)
        byte = char(random());
    const uint32_t whole = Checksum(bytes.data(), bytes.size());
    EXPECT_EQ(Checksum("123456789", 9), 0xE3069283u);
    EXPECT_EQ(journalrecords::ChecksumByTable(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(journalrecords::ChecksumByTable(0, bytes.data(), bytes.size()), whole);
    EXPECT_EQ(Checksum(Checksum(bytes.data(), 12345), bytes.data() + 12345, bytes.size() - 12345),
              whole);
}

class JournalTest : public ::testing::Test {
  protected:
    Journal::Settings Settings(int64_t compactAt = 16 << 20, int64_t streamAt = 4 << 20) {
        Journal::Settings settings;
        settings.folder = folder;
        settings.compactAt = compactAt;
        settings.streamAt = streamAt;
        return settings;
    }
    std::string OnlyFile() {
        const std::vector<std::string> files = ListFolder(folder);
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? folder : folder + "/" + files[0];
    }
    // The text that the one journal kept for path rebuilds, holding it
    // whole; the journal then goes.
    std::string Recovered(const std::string& path = "") {
        auto kept = FindKeptJournals(folder, path);
        if (kept.size() != 1)
            return std::to_string(kept.size()) + " journals";
        EXPECT_TRUE(kept[0]->HoldsItsText());
        kept[0]->StartReading({});
        std::string text;
        char block[4096];
        int64_t n;
        while ((n = kept[0]->Read(block, sizeof block)) > 0)
            text.append(block, size_t(n));
        EXPECT_EQ(kept[0]->Length(), int64_t(text.size()));
        kept[0]->Remove();
        return n < 0 ? "failed: " + kept[0]->LastError().reason : text;
    }

    TempDir dir;
    std::string folder = dir.Path("state/varne");
};

// Inserts, deletions and replacements, flushed in batches, with and without
// compaction into snapshots on the way, with insertions large enough to go to
// the writer a block at a time, and made to a file, whose bytes the journal
// copies after its first batch so that the text survives the file being
// replaced. A file replaced before that cannot be copied, and the journal
// asks for the text instead. Journals live in a folder for their owner alone,
// even one made open before, never beside the document.
TEST_F(JournalTest, EveryChangeFlushedIsRebuiltExactly) {
    enum Base { untitled, file, replacedFirst };
    struct Case {
        unsigned seed;
        int batches;
        int64_t compactAt, streamAt;
        int largeEvery;
        Base base;
    };
    for (const char* made : {"state", "state/varne", "site"})
        ASSERT_EQ(::mkdir(dir.Path(made).c_str(), 0755), 0);
    const std::string path = dir.Path("site/page.html");
    const std::string bytes = "<html>\r\n<p>the file as read</p>\0\xFF</html>\n"s;
    WriteBytes(path, bytes);
    for (const Case& c :
         {Case{1, 40, 16 << 20, 4 << 20, 0, untitled}, Case{2, 200, 2048, 4 << 20, 0, untitled},
          Case{3, 60, 1, 4 << 20, 0, untitled}, Case{4, 60, 16 << 20, 20, 0, untitled},
          Case{5, 12, 16 << 20, 4 << 20, 9, untitled}, Case{6, 12, 4 << 20, 1 << 20, 7, untitled},
          Case{7, 30, 2048, 4 << 20, 0, file}, Case{8, 30, 2048, 4 << 20, 0, replacedFirst}}) {
        SCOPED_TRACE("seed " + std::to_string(c.seed));
        JournalBase start;
        if (c.base != untitled) {
            WriteBytes(path, bytes);
            start = {path, FileIdentity{}, int64_t(bytes.size())};
            ASSERT_TRUE(IdentifyFile(path, *start.file));
        }
        if (c.base == replacedFirst) {
            std::remove(path.c_str());
            WriteBytes(path, "another program's text");
        }
        int asked = 0;
        std::string expected;
        {
            Journal::Settings settings = Settings(c.compactAt, c.streamAt);
            settings.snapshotWanted = [&] { ++asked; };
            Journal journal(settings);
            journal.Begin(start);
            Editing editing{journal, c.base == untitled ? "" : bytes, std::mt19937(c.seed),
                            c.largeEvery};
            for (int b = 0; b < c.batches; ++b) {
                editing.Batch(1 + b % 7);
                if (b > 0)
                    continue;
                ASSERT_TRUE(journal.WaitUntilWritten(5000));
                EXPECT_EQ(journal.SnapshotWanted(), c.base == replacedFirst);
                EXPECT_EQ(asked, int(c.base == replacedFirst));
                if (journal.SnapshotWanted()) {
                    journal.Snapshot(int64_t(editing.text.size()), From(editing.text));
                    journal.Flush();
                }
            }
            expected = editing.text;
        }
        struct stat folderMode, fileMode;
        ASSERT_EQ(::stat(folder.c_str(), &folderMode), 0);
        ASSERT_EQ(::stat(OnlyFile().c_str(), &fileMode), 0);
        EXPECT_EQ(folderMode.st_mode & 0777, 0700u);
        EXPECT_EQ(fileMode.st_mode & 0777, 0600u);
        EXPECT_EQ(ListFolder(dir.Path("site")), std::vector<std::string>{"page.html"});
        std::remove(path.c_str());
        WriteBytes(path, "changed since");
        EXPECT_TRUE(Recovered(start.path) == expected);
        EXPECT_TRUE(ListFolder(folder).empty());
    }
}

// A write cut short anywhere in the last batch, or any byte of it damaged,
// loses that batch and nothing before it; damage earlier loses from there on;
// with no whole batch at all there is nothing to offer, and the journal goes.
// While its writer lives, a journal is not offered.
TEST_F(JournalTest, ACutOrDamagedBatchFallsBackToTheWholeOneBefore) {
    std::vector<std::string> texts;
    std::vector<size_t> ends;
    {
        Journal journal(Settings());
        journal.Begin(JournalBase{});
        Editing editing{journal, "", std::mt19937(7)};
        for (int b = 0; b < 3; ++b) {
            editing.Batch(5);
            ASSERT_TRUE(journal.WaitUntilWritten(5000));
            EXPECT_TRUE(FindKeptJournals(folder, "").empty()) << "its writer holds it";
            texts.push_back(editing.text);
            ends.push_back(ReadBytes(OnlyFile()).size());
        }
    }
    const std::string path = OnlyFile(), whole = ReadBytes(path);
    const auto rebuiltFrom = [&](std::string bytes, size_t damagedAt = std::string::npos) {
        if (damagedAt != std::string::npos)
            bytes[damagedAt] ^= 0x20;
        WriteBytes(path, bytes);
        return Recovered();
    };
    for (size_t at = ends[1]; at < ends[2]; ++at) {
        EXPECT_TRUE(rebuiltFrom(whole.substr(0, at)) == texts[1]) << "cut at " << at;
        EXPECT_TRUE(rebuiltFrom(whole, at) == texts[1]) << "damaged at " << at;
    }
    EXPECT_TRUE(rebuiltFrom(whole, ends[0] + 10) == texts[0]);
    EXPECT_TRUE(rebuiltFrom(whole) == texts[2]);
    EXPECT_EQ(rebuiltFrom(whole.substr(0, ends[0] - 1)), "0 journals");
    EXPECT_TRUE(ListFolder(folder).empty());
}

// A full disk fails batches, which are written with the next once there is
// room, and says so once; a large change that fails part-way is made good by
// the whole text, which the program hands over when asked.
TEST_F(JournalTest, WritesThatFailForWantOfRoomAreMadeGoodOnceThereIsRoom) {
    ScopedTmpfs disk("256k");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    folder = disk.Path("varne");
    const std::string ballast = disk.Path("ballast");
    for (const bool large : {false, true}) {
        SCOPED_TRACE(large ? "a large change" : "small batches");
        Journal::Settings settings = Settings(16 << 20, 8 << 10);
        int failures = 0;
        settings.failed = [&](const std::string&) { ++failures; };
        std::string expected;
        {
            Journal journal(settings);
            journal.Begin(JournalBase{});
            Editing editing{journal, "", std::mt19937(21)};
            editing.Batch(3);
            ASSERT_TRUE(journal.WaitUntilWritten(5000));
            WriteBytes(ballast, std::string(300 << 10, 'b'));
            const std::string inserted(40 << 10, 'L');
            if (large) {
                journal.Change(0, 0, int64_t(inserted.size()), From(inserted));
                journal.Flush();
            } else {
                editing.Batch(400); // more than the room left in the file's last page
                editing.Batch(400);
            }
            ASSERT_TRUE(journal.WaitUntilWritten(5000));
            EXPECT_EQ(failures, 1);
            EXPECT_EQ(journal.SnapshotWanted(), large);
            std::remove(ballast.c_str());
            if (large) {
                expected = inserted + editing.text;
                journal.Snapshot(int64_t(expected.size()), From(expected));
                journal.Flush();
            } else {
                editing.Batch(3);
                expected = editing.text;
            }
        }
        EXPECT_TRUE(Recovered() == expected);
    }
}

// ---------------------------------------------------------------------------
// The program: what it journals, when the journal goes, and what it offers.

class JournalRecoveryTest : public EditorTest {
  protected:
    // The program ends and starts again, as after any ending, with its
    // journals in state.
    void Restart(const std::string& state = "") {
        theApp.ShutDown();
        ::setenv("XDG_STATE_HOME", (state.empty() ? stateDir.Root() : state).c_str(), 1);
        theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
    }
    // Started again on the command line with path, or with no file, which
    // offers the untitled documents kept; the questions asked are answered
    // with choices.
    void Reopen(const std::string& path, std::deque<int> choices) {
        Restart();
        desktop.questions.clear();
        desktop.choices = std::move(choices);
        if (path.empty())
            theApp.OfferUntitledRecovery();
        else
            theApp.OpenFromCommandLine(path);
        EXPECT_TRUE(desktop.choices.empty()) << "fewer questions than answers";
    }
    std::vector<std::string> Journals() {
        EXPECT_TRUE(theApp.SyncJournal(5000));
        return ListFolder(stateDir.Path("varne"));
    }
};

// Unsaved text of every kind is offered back with what it is and when it was
// made: kept for later, what is on disk opens; recovered, the text comes back
// unsaved, and what is typed next is journaled on top of it; saved, it is the
// file; discarded, or given up with No, nothing is left. Changes cannot be
// made to a file someone else has changed since: the text comes back
// untitled. Ended by a signal, Varne keeps an emergency copy and flushes the
// journal too; the journal is offered first, and the copy only when the
// changes are not recovered.
TEST_F(JournalRecoveryTest, UnsavedTextOfEveryKindIsOfferedBack) {
    const std::string page = dir.Path("page.html"), changed = dir.Path("changed.html");
    const std::string fresh = dir.Path("new.html");
    struct Case {
        std::string path;  // what is opened again; empty: nothing, as at start-up
        std::string bytes; // the file's before the changes; empty: no file
        bool copy;         // an emergency copy is kept, and offered once the changes are kept
        bool replaced;     // the file is replaced once the changes are journaled
        std::string says, recoverButton, recoveredAs, savedAs;
    };
    const Case cases[] = {
        {page, "<p>saved\0\r\n</p>"s, true, false, "changes to \"" + page + "\"",
         "&Recover Changes", page, page},
        {changed, "<p>as read</p>", false, true, "has changed on disk since",
         "&Recover as Untitled", "", dir.Path("recovered.html")},
        {fresh, "", false, false, "changes to \"" + fresh + "\"", "&Recover Changes", fresh, fresh},
        {"", "", false, false, "untitled document", "&Recover Text", "", dir.Path("untitled.html")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Restart();
        if (!c.bytes.empty()) {
            // Written an hour ago, so that whatever is kept of it now is newer.
            WriteBytes(c.path, c.bytes);
            const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, c.path.c_str(), hourAgo, 0);
            theApp.LoadFile(c.path);
            TypeText("<b>typed</b>");
            theApp.SendEditor(SCI_GOTOPOS, 3);
            TypeText("x");
            Command(IDM_UNDO);
            Command(IDM_UNDO);
            Command(IDM_REDO);
            theApp.SendEditor(SCI_SETSEL, 0, 5);
            Command(IDM_DELETE);
        } else {
            if (!c.path.empty())
                theApp.OpenFromCommandLine(c.path);
            TypeText("<p>never");
            AddText(" saved</p>\0\r\xC3\xA9"s);
        }
        if (c.copy) {
            testing::internal::CaptureStderr();
            theApp.PreserveUnsavedText();
            testing::internal::GetCapturedStderr();
        }
        const std::string edited = EditorText();
        ASSERT_TRUE(theApp.SyncJournal(5000));
        const std::string onDisk = c.replaced ? "another program's version" : c.bytes;
        if (c.replaced) {
            std::remove(c.path.c_str());
            WriteBytes(c.path, onDisk);
        }
        const std::string keepButton = c.path.empty() ? "&Keep for Later" : "&Open File As It Is";

        Reopen(c.path, c.copy ? std::deque<int>{2, 0} : std::deque<int>{2});
        ASSERT_FALSE(desktop.questions.empty());
        const QuestionRecord offer = desktop.questions[0];
        EXPECT_NE(offer.text.find(c.says), std::string::npos) << offer.text;
        EXPECT_NE(offer.text.find(" on "), std::string::npos) << "says when: " << offer.text;
        EXPECT_EQ(offer.buttons,
                  (std::vector<std::string>{c.recoverButton, "&Discard Changes", keepButton}));
        EXPECT_EQ(offer.defaultButton, 0);
        EXPECT_EQ(offer.escapeButton, 2);
        if (c.copy) {
            EXPECT_EQ(desktop.questions[1].buttons[0], "Open the &File");
        }
        EXPECT_TRUE(EditorText() == onDisk);
        EXPECT_FALSE(theApp.modified);

        Reopen(c.path, {0});
        EXPECT_TRUE(EditorText() == edited);
        EXPECT_TRUE(theApp.modified);
        EXPECT_TRUE(MenuEnabled(IDM_SAVE));
        EXPECT_EQ(Caption(), "Varne - " + c.recoveredAs);
        EXPECT_EQ(theApp.SendEditor(SCI_CANUNDO), 0);
        EXPECT_TRUE(ReadBytes(c.path) == onDisk) << "the file is not written";
        TypeText("more");
        Command(IDM_UNDO);
        EXPECT_TRUE(theApp.modified) << "the recovered text is unsaved";
        TypeText("!");
        const std::string again = EditorText();

        Reopen(c.recoveredAs, {0});
        EXPECT_TRUE(EditorText() == again);
        if (c.recoveredAs.empty())
            desktop.fileNames = {c.savedAs};
        Command(IDM_SAVE);
        EXPECT_TRUE(ReadBytes(c.savedAs) == again);
        EXPECT_FALSE(theApp.modified);
        EXPECT_TRUE(Journals().empty());
        TypeText("discarded");
        Reopen(c.savedAs, {1});
        EXPECT_TRUE(EditorText() == again);
        EXPECT_TRUE(Journals().empty());
        TypeText("given up");
        ASSERT_EQ(Journals().size(), 1u);
        desktop.answers = {platform::IDNO};
        Command(IDM_EXIT);
        EXPECT_EQ(desktop.quits.size(), 1u);
        EXPECT_TRUE(Journals().empty());
        desktop.quits.clear();
    }
}

// Reading a file or starting a new document makes no journal, nor does
// typing in a Varne started without one (the benchmark's comparison); a save
// that fails keeps it.
TEST_F(JournalRecoveryTest, OnlyUnsavedTextIsJournaledAndAFailedSaveKeepsIt) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "text");
    theApp.LoadFile(path);
    Command(IDM_NEW);
    theApp.LoadFile(path);
    EXPECT_TRUE(Journals().empty());
    theApp.journalWanted = false;
    Restart();
    theApp.journalWanted = true; // from the next start on
    theApp.LoadFile(path);
    TypeText("unsaved ");
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(Journals().empty());
    Reopen(path, {});
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(EditorText(), "text");

    ScopedTmpfs disk("1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    WriteBytes(disk.Path("page.html"), "text");
    theApp.LoadFile(disk.Path("page.html"));
    TypeText("unsaved ");
    ASSERT_TRUE(disk.RemountReadOnly());
    Command(IDM_SAVE);
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(Journals().size(), 1u);
}

// The largest batch number a log of the typist lists; 0 for none.
int64_t Last(const std::string& log) {
    std::istringstream lines(ReadBytes(log));
    int64_t last = 0, batch;
    while (lines >> batch)
        last = std::max(last, batch);
    return last;
}

// Killed without warning: a helper process (JournalTypist.cpp) types, pastes,
// deletes, undoes and redoes in the real program objects, flushing its journal
// every few tens of milliseconds, and is killed with SIGKILL at a random
// moment once its journal is on disk. While it runs, its journal is its own:
// opening the file asks nothing. Killed, the text recovered is one it
// flushed, never a mix, and none older than the last batch it saw on disk.
TEST_F(JournalRecoveryTest, KilledAtARandomMomentTheLastTextFlushedComesBack) {
    std::mt19937 random(std::random_device{}());
    const unsigned seed = random();
    SCOPED_TRACE("seed " + std::to_string(seed));
    random.seed(seed);
    std::string original;
    for (int i = 0; i < 400; ++i)
        original += "<p class=\"c" + std::to_string(i) + "\">line &amp; more</p>\n";
    int looked = 0; // while the typist's journal was there
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir work;
        const std::string path = work.Path("page.html"), log = work.Path("log");
        const std::string state = work.Path("state");
        WriteBytes(path, original);
        ASSERT_EQ(::mkdir(log.c_str(), 0700), 0);
        QProcess typist;
        typist.setProcessChannelMode(QProcess::MergedChannels);
        typist.setStandardOutputFile(QString::fromStdString(log + "/typist.log"));
        typist.start(JOURNAL_TYPIST,
                     {QString::fromStdString(path), QString::fromStdString(log),
                      QString::number(random()), QString::fromStdString(state + "/varne")});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Last(log + "/committed") == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GT(Last(log + "/committed"), 0) << "the typist wrote no journal";
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
        const bool there = !ListFolder(state + "/varne").empty();
        Restart(state);
        theApp.LoadFile(path);
        EXPECT_TRUE(EditorText() == original);
        looked += there && !ListFolder(state + "/varne").empty();
        typist.kill(); // SIGKILL
        ASSERT_TRUE(typist.waitForFinished(20000));

        const int64_t committed = Last(log + "/committed");
        desktop.questions.clear();
        desktop.choices = {0};
        Restart(state);
        theApp.LoadFile(path);
        desktop.choices.clear();
        EXPECT_TRUE(ReadBytes(path) == original) << "the file itself is never written";
        const std::string recovered = EditorText();
        if (desktop.questions.empty()) {
            // Undone back to the file since the last flush.
            EXPECT_TRUE(Last(log + "/unchanged") >= committed)
                << "the changes flushed up to batch " << committed << " were lost";
            EXPECT_TRUE(recovered == original);
        } else {
            bool found = false;
            for (int64_t batch = committed; !found; ++batch) {
                const std::string name = log + "/text-" + std::to_string(batch);
                if (!Exists(name))
                    break;
                found = ReadBytes(name) == recovered;
            }
            EXPECT_TRUE(found) << "the recovered text (" << recovered.size()
                               << " bytes) is no text flushed at or after batch " << committed;
        }
        Restart(); // done with the journals in work before it goes
    }
    EXPECT_GT(looked, 0) << "the file was never opened while the typist's journal was there";
}

} // namespace
