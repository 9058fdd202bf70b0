// One way in while a file moves. Whatever asks while a load or a save runs
// (a screen reader pressing a menu item, the frame's commands, keys, an input
// method, the accessible editable text, a drop), the document and the file
// keep exactly their bytes, and no other transfer starts; a close or a logout
// waits its turn and is then answered as usual. Each request comes at the
// second step of the transfer, when its progress window runs the event loop.
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <functional>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "platform/SearchWindows.h"
#include "tests/TestSupport.h"

namespace {

constexpr size_t block = 131072;

std::string Page(size_t blocks) {
    std::string bytes;
    for (int line = 0; bytes.size() < blocks * block; ++line)
        bytes += "<p>" + std::to_string(line) + "</p>\r\n";
    return bytes;
}

// Presses the menu item as a screen reader does, through its accessible action.
void PressAccessibly(unsigned short id) {
    QAccessibleInterface* item = AccessibleMenuItem(id);
    ASSERT_NE(item, nullptr);
    ASSERT_NE(item->actionInterface(), nullptr);
    item->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

// Whether the last drop was taken from its source.
bool dropTaken = false;

void CommitInputMethodText(const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(theApp.editorWindow, &event);
}

// What the Replace window's Replace All button asks for.
void ReplaceAll(const std::string& what, const std::string& with) {
    platform::SearchRequest request;
    request.action = platform::SearchAction::replaceAll;
    request.what = what;
    request.with = with;
    theApp.HandleSearchRequest(request);
}

// A file dragged from a file manager and dropped on the editor, to be opened.
void DropFile(const std::string& path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QWidget* viewport = theApp.editorWindow->viewport();
    QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QApplication::processEvents(); // the window opens dropped files once the drop is over
}

QAccessibleEditableTextInterface* AccessibleEditableText() {
    return QAccessible::queryAccessibleInterface(theApp.editorWindow)->editableTextInterface();
}

struct Request {
    const char* what;
    std::function<void()> make;
};

// Each of these changes the document when no transfer runs (see the first test).
const Request edits[] = {
    {"Paste pressed by a screen reader", [] { PressAccessibly(IDM_PASTE); }},
    {"New pressed by a screen reader", [] { PressAccessibly(IDM_NEW); }},
    {"Undo pressed by a screen reader", [] { PressAccessibly(IDM_UNDO); }},
    {"Delete from the frame", [] { theApp.frameWindow->SendCommand(IDM_DELETE); }},
    {"Shift+Insert",
     [] { QTest::keyClick(theApp.editorWindow, Qt::Key_Insert, Qt::ShiftModifier); }},
    {"typed text", [] { QTest::keyClicks(theApp.editorWindow, "typed"); }},
    {"an input method's text", [] { CommitInputMethodText("IME"); }},
    {"a screen reader's insertion", [] { AccessibleEditableText()->insertText(0, "X"); }},
    {"a drop", [] { dropTaken = DropFromElsewhere("dropped", QPoint(4, 4)); }},
    {"Replace All from the Replace window", [] { ReplaceAll("<p>", "<div>"); }},
};

// Each of these would start another transfer, asking for a name first.
const Request transfers[] = {
    {"Open pressed by a screen reader", [] { PressAccessibly(IDM_OPEN); }},
    {"Save As from the frame", [] { theApp.frameWindow->SendCommand(IDM_SAVEAS); }},
    {"Save from the frame", [] { theApp.frameWindow->SendCommand(IDM_SAVE); }},
    {"a file dropped on the window", [] { DropFile(theApp.filePath + ".other.html"); }},
};

class TransferDoorTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        QApplication::clipboard()->setText("JUNK");
        path = dir.Path("page.html");
        WriteBytes(path, file);
        WriteBytes(path + ".other.html", "<p>another file</p>");
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

    // An edit at the start, so that there is something to undo and to save;
    // the selection covers all, so that a paste or a delete would replace it.
    void OpenAndEdit() {
        WriteBytes(path, file);
        theApp.LoadFile(path);
        QTest::keyClicks(theApp.editorWindow, "<!-- edit -->");
        edited = "<!-- edit -->" + file;
        Command(IDM_SELECTALL);
    }

    // Compared whole, so that a failure does not print the long text.
    void ExpectLoadedWhole() {
        EXPECT_GE(steps, 2) << "the request never came";
        EXPECT_TRUE(EditorText() == file) << "the document is not the file";
        EXPECT_TRUE(ReadBytes(path) == file) << "the file changed";
        EXPECT_EQ(theApp.filePath, path);
        EXPECT_FALSE(theApp.modified);
    }

    void ExpectSavedWhole() {
        EXPECT_GE(steps, 2) << "the request never came";
        EXPECT_TRUE(EditorText() == edited) << "the document changed";
        EXPECT_TRUE(ReadBytes(path) == edited) << "the file is not the document";
        EXPECT_EQ(theApp.filePath, path);
        EXPECT_FALSE(theApp.modified);
    }

    const std::string file = Page(4);
    std::string path;
    std::string edited;
    int steps = 0;
};

TEST_F(TransferDoorTest, EachRequestChangesTheDocumentWhenNoFileMoves) {
    for (const Request& request : edits) {
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
// document; Undo during a save crashed the program.
TEST_F(TransferDoorTest, NothingEditsTheDocumentWhileAFileIsRead) {
    for (const Request& request : edits) {
        SCOPED_TRACE(request.what);
        AtSecondStep(request.make);
        theApp.LoadFile(path);
        ExpectLoadedWhole();
    }
    EXPECT_FALSE(dropTaken) << "the drop's source lost its text";
}

TEST_F(TransferDoorTest, NothingEditsTheDocumentWhileAFileIsWritten) {
    for (const Request& request : edits) {
        SCOPED_TRACE(request.what);
        OpenAndEdit();
        AtSecondStep(request.make);
        Command(IDM_SAVE);
        ExpectSavedWhole();
        EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    }
    EXPECT_FALSE(dropTaken) << "the drop's source lost its text";
}

// No dialog is shown (the scripted desktop fails the test on one it was not
// told of), and no second load or save runs.
TEST_F(TransferDoorTest, NoOtherTransferStartsWhileAFileMoves) {
    for (const Request& request : transfers) {
        SCOPED_TRACE(request.what);
        const size_t before = desktop.progress.size();
        WriteBytes(path, file);
        AtSecondStep(request.make);
        theApp.LoadFile(path);
        ExpectLoadedWhole();
        OpenAndEdit();
        AtSecondStep(request.make);
        Command(IDM_SAVE);
        ExpectSavedWhole();
        EXPECT_EQ(desktop.progress.size(), before + 3) << "two loads and a save";
    }
}

// A close during a load is put off until the load is over, and then made
// again, as the person made it: the loaded file has nothing unsaved.
TEST_F(TransferDoorTest, ACloseDuringALoadClosesOnceTheFileIsIn) {
    const struct {
        const char* what;
        std::function<void()> close;
    } closes[] = {
        {"closing the window", [] { EXPECT_FALSE(theApp.frameWindow->close()); }},
        {"Exit pressed by a screen reader", [] { PressAccessibly(IDM_EXIT); }},
    };
    for (const auto& close : closes) {
        SCOPED_TRACE(close.what);
        desktop.quits.clear();
        AtSecondStep(close.close);
        theApp.LoadFile(path);
        ExpectLoadedWhole();
        EXPECT_TRUE(desktop.quits.empty()) << "closed in the middle of the load";
        QApplication::processEvents();
        EXPECT_EQ(desktop.quits, std::vector<int>{0});
        EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
        // A window of its own for the next case.
        theApp.ShutDown();
        theApp.StartUp(*static_cast<QApplication*>(QApplication::instance()));
    }
}

// A close during a save waits for the save, and then asks as usual: nothing,
// once the text is safely saved.
TEST_F(TransferDoorTest, ACloseDuringASaveWaitsForItThenClosesAsUsual) {
    OpenAndEdit();
    bool closed = false;
    AtSecondStep([&] { closed = theApp.frameWindow->close(); });
    Command(IDM_SAVE);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ReadBytes(path) == edited) << "the file is not the document";
    EXPECT_EQ(desktop.quits, std::vector<int>{0});
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

// A logout during a load goes ahead at once: the document being read holds
// nothing unsaved. During a save it waits for the save, then asks as usual:
// nothing once the text is saved; the question, if the save failed.
TEST_F(TransferDoorTest, ALogoutWaitsForASaveThenAsksAsUsual) {
    bool allowed = false;
    AtSecondStep([&] { allowed = theApp.LogoutRequested(); });
    theApp.LoadFile(path);
    ExpectLoadedWhole();
    EXPECT_TRUE(allowed);

    OpenAndEdit();
    allowed = false;
    AtSecondStep([&] {
        allowed = theApp.LogoutRequested();
        EXPECT_FALSE(theApp.modified) << "asked before the save was over";
    });
    Command(IDM_SAVE);
    ExpectSavedWhole();
    EXPECT_TRUE(allowed);
    EXPECT_TRUE(desktop.quits.empty()) << "saved: the session ends the program itself";
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
}

// A save that fails leaves the text unsaved: the logout that waited for it
// asks the question, and Cancel calls it off.
TEST_F(TransferDoorTest, ALogoutDuringASaveThatFailsAsksTheQuestion) {
    ScopedTmpfs disk("200k"); // room for one block and a bit of the next
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs could be mounted";
    const std::string small = disk.Path("page.html");
    WriteBytes(small, "<p>small</p>");
    theApp.LoadFile(small);
    AddText(file);
    bool allowed = true;
    AtSecondStep([&] { allowed = theApp.LogoutRequested(); });
    desktop.answers = {platform::IDCANCEL};
    Command(IDM_SAVE);
    EXPECT_GE(steps, 2);
    EXPECT_FALSE(allowed);
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(small), "<p>small</p>");
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[0].text.rfind("Could not save file", 0), 0u)
        << desktop.messages[0].text;
    EXPECT_EQ(desktop.messages[1].text, "Save changes to \"" + small + "\"?");
}

} // namespace
