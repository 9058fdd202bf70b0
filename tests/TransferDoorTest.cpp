// One way in while a file moves. Whatever asks during a load or a save, the
// document and the file keep exactly their bytes and no other transfer
// starts; a close or a logout waits its turn and is then answered as usual.
// Each request comes at the second step, when the progress window runs the
// event loop.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QTest>
#include <functional>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "platform/SearchWindows.h"
#include "tests/TestSupport.h"

namespace {

// As a screen reader presses a menu item.
void Press(unsigned short id) {
    AccessibleMenuItem(id)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

bool dropTaken = false; // whether the last drop was taken from its source

struct Request {
    const char* what;
    bool edits; // changes the document when no file moves; the others ask for a name
    std::function<void()> make;
};

const Request requests[] = {
    {"Paste pressed by a screen reader", true, [] { Press(IDM_PASTE); }},
    {"New pressed by a screen reader", true, [] { Press(IDM_NEW); }},
    {"Undo pressed by a screen reader", true, [] { Press(IDM_UNDO); }},
    {"Shift+Insert", true,
     [] { QTest::keyClick(theApp.editorWindow, Qt::Key_Insert, Qt::ShiftModifier); }},
    {"typed text", true, [] { QTest::keyClicks(theApp.editorWindow, "typed"); }},
    {"an input method's text", true,
     [] {
         QInputMethodEvent event;
         event.setCommitString("IME");
         QApplication::sendEvent(theApp.editorWindow, &event);
     }},
    {"a screen reader's insertion", true,
     [] {
         QAccessible::queryAccessibleInterface(theApp.editorWindow)
             ->editableTextInterface()
             ->insertText(0, "X");
     }},
    {"a drop", true, [] { dropTaken = DropFromElsewhere("dropped", QPoint(4, 4)); }},
    {"Replace All", true,
     [] {
         platform::SearchRequest request;
         request.action = platform::SearchAction::replaceAll;
         request.what = "<p>";
         request.with = "<div>";
         theApp.HandleSearchRequest(request);
     }},
    {"Save As", false, [] { theApp.frameWindow->SendCommand(IDM_SAVEAS); }},
};

class TransferDoorTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        QApplication::clipboard()->setText("JUNK");
    }

    void TearDown() override {
        desktop.duringProgress = nullptr;
        EditorTest::TearDown();
    }

    // The next load or save makes the request at its second step.
    void AtSecondStep(std::function<void()> make) {
        steps = 0;
        desktop.duringProgress = [this, make] {
            if (++steps == 2)
                make();
        };
    }

    // Edited at the start, so that there is something to undo and to save,
    // and all selected, so that a paste or typing would replace it.
    void OpenAndEdit() {
        WriteBytes(path, file);
        theApp.LoadFile(path);
        QTest::keyClicks(theApp.editorWindow, "<!-- edit -->");
        Command(IDM_SELECTALL);
    }

    // Compared whole, so that a failure does not print the long text.
    void ExpectWhole(const std::string& bytes) {
        EXPECT_GE(steps, 2) << "the request never came";
        EXPECT_TRUE(EditorText() == bytes) << "the document is not the file";
        EXPECT_TRUE(ReadBytes(path) == bytes) << "the file changed";
        EXPECT_EQ(theApp.filePath, path);
        EXPECT_FALSE(theApp.modified);
    }

    const std::string file = [] {
        std::string bytes;
        while (bytes.size() < 4 * 131072) // four blocks and a bit: several steps
            bytes += "<p>a line</p>\r\n";
        return bytes;
    }();
    const std::string edited = "<!-- edit -->" + file;
    const std::string path = dir.Path("page.html");
    int steps = 0;
};

TEST_F(TransferDoorTest, EachEditChangesTheDocumentWhenNoFileMoves) {
    for (const Request& request : requests) {
        if (!request.edits)
            continue;
        SCOPED_TRACE(request.what);
        OpenAndEdit();
        desktop.answers = {platform::IDNO}; // New asks about the edit first
        request.make();
        desktop.answers.clear();
        EXPECT_FALSE(EditorText() == edited) << "the request did nothing";
    }
    EXPECT_TRUE(dropTaken);
}

// The faults once measured: Paste put its text into the middle of the loaded
// file, which then passed for the file; New left half of it as an untitled
// document; Undo during a save wrote a file that was not the document.
TEST_F(TransferDoorTest, NothingChangesTheDocumentOrTheFileWhileOneMoves) {
    for (const Request& request : requests) {
        SCOPED_TRACE(request.what);
        WriteBytes(path, file);
        AtSecondStep(request.make);
        theApp.LoadFile(path);
        ExpectWhole(file);
        OpenAndEdit();
        AtSecondStep(request.make);
        Command(IDM_SAVE);
        ExpectWhole(edited);
    }
    EXPECT_FALSE(dropTaken) << "the drop's source lost its text";
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(desktop.progress.size(), 3 * std::size(requests)) << "no other load or save";
}

// A close during a load is put off, and made again once the file is in. A
// close during a save waits for it, then asks as usual: nothing, once saved.
TEST_F(TransferDoorTest, ACloseComesBackAfterALoadAndWaitsForASave) {
    WriteBytes(path, file);
    AtSecondStep([] { Press(IDM_EXIT); });
    theApp.LoadFile(path);
    ExpectWhole(file);
    EXPECT_TRUE(desktop.quits.empty()) << "closed in the middle of the load";
    QApplication::processEvents();
    EXPECT_EQ(desktop.quits, std::vector<int>{0});

    OpenAndEdit();
    bool closed = false;
    AtSecondStep([&] { closed = theApp.frameWindow->close(); });
    Command(IDM_SAVE);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ReadBytes(path) == edited);
    EXPECT_EQ(desktop.quits, (std::vector<int>{0, 0}));
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

// A logout during a load goes ahead at once: nothing is unsaved then. During
// a save it waits, then asks as usual: nothing once the text is saved, the
// question if the save failed.
TEST_F(TransferDoorTest, ALogoutWaitsForASaveThenAsksAsUsual) {
    bool allowed = false;
    WriteBytes(path, file);
    AtSecondStep([&] { allowed = theApp.LogoutRequested(); });
    theApp.LoadFile(path);
    EXPECT_TRUE(allowed);

    OpenAndEdit();
    allowed = false;
    AtSecondStep([&] { allowed = theApp.LogoutRequested(); });
    Command(IDM_SAVE);
    ExpectWhole(edited);
    EXPECT_TRUE(allowed);
    EXPECT_TRUE(desktop.quits.empty()) << "saved: the session ends the program itself";

    ScopedTmpfs disk("200k"); // room for a block and a bit of the next
    if (!disk.Mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string small = disk.Path("page.html");
    WriteBytes(small, "<p>small</p>");
    theApp.LoadFile(small);
    AddText(file);
    AtSecondStep([&] { allowed = theApp.LogoutRequested(); });
    desktop.answers = {platform::IDCANCEL};
    Command(IDM_SAVE);
    EXPECT_FALSE(allowed);
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(LastMessage(), "Save changes to \"" + small + "\"?") << "after the failure";
}

} // namespace
