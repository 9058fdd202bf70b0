// Long loads and saves report their progress; a load can be cancelled and then
// leaves nothing of the file behind. The Qt progress window appears only for
// long work, keeps its text plain and lets only cancellable work be cancelled.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <thread>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

using ProgressTest = EditorTest;

constexpr int64_t block = 131072;

std::string Blocks(double count) {
    std::string bytes;
    while (bytes.size() < size_t(count * block))
        bytes += "<p>a line of text</p>\n";
    bytes.resize(size_t(count * block));
    return bytes;
}

TEST_F(ProgressTest, LoadAndSaveReportEveryBlockUpToTheWhole) {
    const std::string bytes = Blocks(3.5);
    const std::string path = dir.Path("page.html");
    WriteBytes(path, bytes);
    theApp.LoadFile(path);
    ASSERT_EQ(EditorText(), bytes);

    ASSERT_EQ(desktop.progress.size(), 1u);
    const ProgressRecord& load = desktop.progress[0];
    EXPECT_EQ(load.text, "Opening \"" + path + "\"");
    EXPECT_EQ(load.total, int64_t(bytes.size()));
    EXPECT_TRUE(load.cancellable);
    EXPECT_EQ(load.steps, (std::vector<int64_t>{block, 2 * block, 3 * block, load.total}));
    EXPECT_TRUE(load.closed);

    // A save cannot be called off: the old file must not be left half-written.
    TypeText("x");
    desktop.cancelAtStep = 1;
    Command(IDM_SAVE);
    ASSERT_EQ(desktop.progress.size(), 2u);
    const ProgressRecord& save = desktop.progress[1];
    EXPECT_EQ(save.text, "Saving \"" + path + "\"");
    EXPECT_FALSE(save.cancellable);
    EXPECT_EQ(save.total, int64_t(bytes.size()) + 1);
    EXPECT_EQ(save.steps.back(), save.total);
    EXPECT_EQ(save.steps.size(), 4u);
    EXPECT_TRUE(save.closed);
    EXPECT_EQ(ReadBytes(path), "x" + bytes);
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(ProgressTest, ACancelledLoadLeavesAnEmptyUntitledDocument) {
    const std::string first = dir.Path("first.html");
    WriteBytes(first, "<p>first</p>");
    theApp.LoadFile(first);
    TypeText("edit ");

    const std::string bytes = Blocks(5);
    const std::string path = dir.Path("big.html");
    WriteBytes(path, bytes);
    desktop.cancelAtStep = 2;
    theApp.LoadFile(path);

    EXPECT_EQ(desktop.progress.back().steps, (std::vector<int64_t>{block, 2 * block}))
        << "reading goes on after the cancel";
    EXPECT_TRUE(desktop.progress.back().closed);
    EXPECT_EQ(EditorText(), "");
    EXPECT_TRUE(theApp.filePath.empty());
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0);
    EXPECT_TRUE(desktop.messages.empty()) << "the person chose it: " << LastMessage();
    EXPECT_EQ(ReadBytes(path), bytes);

    // The editor is itself again: it paints and takes typing.
    int paints = 0;
    QObject::connect(theApp.editorWindow, &QsciScintillaBase::SCN_PAINTED, [&] { ++paints; });
    theApp.editorWindow->viewport()->repaint();
    EXPECT_EQ(paints, 1);
    TypeText("new");
    EXPECT_EQ(EditorText(), "new");
}

// Nothing of the file the load was cancelled on, nor of the one before it,
// stays: not its line ends, not its name for Save, not a screen reader's text.
TEST_F(ProgressTest, ACancelledLoadForgetsTheFileForEverythingThatFollows) {
    const std::string first = dir.Path("first.html");
    WriteBytes(first, "<p>\r\nfirst</p>\r\n");
    theApp.LoadFile(first);
    ActiveAccessibility reader;
    const std::string path = dir.Path("big.html");
    WriteBytes(path, Blocks(5));
    desktop.cancelAtStep = 2;
    theApp.LoadFile(path);
    QApplication::processEvents();

    const std::vector<AccessibilityRecord> heard = reader.Events(
        {QAccessible::TextInserted, QAccessible::TextRemoved, QAccessible::TextUpdated});
    ASSERT_EQ(heard.size(), 1u) << "one update for the whole load";
    EXPECT_EQ(heard[0].type, QAccessible::TextRemoved);
    EXPECT_EQ(heard[0].position, 0);
    EXPECT_EQ(heard[0].removed, "<p>\r\nfirst</p>\r\n");
    QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(theApp.editorWindow)->textInterface();
    EXPECT_EQ(text->characterCount(), 0);

    TypeText("a");
    QTest::keyClick(theApp.editorWindow, Qt::Key_Return);
    EXPECT_EQ(EditorText(), "a\n") << "a new document's line end, not the first file's";
    const std::string saved = dir.Path("saved.html");
    desktop.fileNames = {saved};
    Command(IDM_SAVE); // asks for a name; no question about a changed file
    EXPECT_EQ(ReadBytes(saved), "a\n");
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(ReadBytes(path), Blocks(5));
}

TEST_F(ProgressTest, AnEmptyFileReportsNoSteps) {
    const std::string path = dir.Path("empty.html");
    WriteBytes(path, "");
    theApp.LoadFile(path);
    ASSERT_EQ(desktop.progress.size(), 1u);
    EXPECT_EQ(desktop.progress[0].total, 0);
    EXPECT_TRUE(desktop.progress[0].steps.empty());
    EXPECT_EQ(theApp.filePath, path);
}

// The Qt desktop's own window, driven as a load or save drives it.
class ProgressWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        owner.resize(400, 300);
        owner.show();
    }

    QProgressDialog* Dialog() { return owner.findChild<QProgressDialog*>(); }

    // Advances a step every few milliseconds until the window shows, for at
    // most five seconds.
    bool AdvanceUntilShown(platform::Progress& progress, int64_t& done) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            progress.Advance(++done);
            if (Dialog() && Dialog()->isVisible())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    QWidget owner;
    platform::QtDesktop qtDesktop;
};

TEST_F(ProgressWindowTest, ShortWorkShowsNothing) {
    const auto progress = qtDesktop.ShowProgress(&owner, "Opening \"a\"", 100, true);
    for (int64_t done = 1; done <= 100; ++done)
        EXPECT_TRUE(progress->Advance(done));
    EXPECT_TRUE(Dialog() == nullptr || !Dialog()->isVisible());
}

TEST_F(ProgressWindowTest, LongWorkShowsAModalWindowThatEscapeCancels) {
    const auto progress = qtDesktop.ShowProgress(&owner, "Opening \"<b>x</b>.html\"", 1000, true);
    int64_t done = 0;
    ASSERT_TRUE(AdvanceUntilShown(*progress, done));
    QProgressDialog* dialog = Dialog();
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), "Varne");
    QLabel* label = dialog->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), "Opening \"<b>x</b>.html\"");
    EXPECT_NE(dialog->findChild<QPushButton*>(), nullptr);

    EXPECT_TRUE(progress->Advance(++done));
    dialog->activateWindow();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(progress->Advance(++done));
    EXPECT_FALSE(progress->Advance(++done)) << "a cancel stays cancelled";
}

TEST_F(ProgressWindowTest, TheWindowGoesWithTheWork) {
    {
        const auto progress = qtDesktop.ShowProgress(&owner, "Saving \"x\"", 1000, false);
        int64_t done = 0;
        ASSERT_TRUE(AdvanceUntilShown(*progress, done));
    }
    EXPECT_EQ(Dialog(), nullptr);
}

// A step that takes long (a slow disk's flush) still brings the window up, and
// the event loop keeps running while it lasts.
TEST_F(ProgressWindowTest, ALongStepStillShowsTheWindowAndRunsTheEventLoop) {
    const auto progress = qtDesktop.ShowProgress(&owner, "Saving \"x\"", 1000, false);
    progress->Advance(1);
    bool ran = false;
    QMetaObject::invokeMethod(
        &owner, [&] { ran = true; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (!ran && clock.elapsed() < 5000) {
        progress->StillWorking();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(ran && Dialog() && Dialog()->isVisible());
}

TEST_F(ProgressWindowTest, WorkThatCannotBeCancelledKeepsItsWindow) {
    const auto progress = qtDesktop.ShowProgress(&owner, "Saving \"x\"", 1000, false);
    int64_t done = 0;
    ASSERT_TRUE(AdvanceUntilShown(*progress, done));
    QProgressDialog* dialog = Dialog();
    EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr);

    dialog->activateWindow();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog->close());
    EXPECT_TRUE(progress->Advance(++done));
    EXPECT_TRUE(dialog->isVisible());
}

} // namespace
