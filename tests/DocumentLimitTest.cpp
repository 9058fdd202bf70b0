// The document never grows past the window's limit, whichever way text comes
// in, and a refused insertion leaves the document, its undo history and its
// modified state exactly as they were. A small limit stands in for the real
// one, which would take gigabytes.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTest>
#include <algorithm>
#include <functional>
#include <random>
#include <unistd.h>

#include "document/FileAccess.h"
#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

constexpr Position limit = 64;

class DocumentLimitTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        Editor()->SetSizeLimit(limit);
    }

    EditorWindow* Editor() { return theApp.editorWindow; }

    std::string Opened(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        EXPECT_EQ(EditorText(), bytes);
        return path;
    }

    void Select(Position start, Position end) {
        theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start), end);
    }

    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(Editor(), key, modifiers);
    }

    void SetClipboard(const std::string& bytes) {
        QApplication::clipboard()->setMimeData(
            MimeDataForBytes(QByteArray(bytes.data(), qsizetype(bytes.size())), false));
    }

    Position Length() { return theApp.SendEditor(SCI_GETLENGTH); }

    // The refusals reported so far, once the event loop has had its turn.
    int Refusals() {
        QApplication::processEvents();
        int count = 0;
        for (const MessageRecord& message : desktop.messages)
            count += message.text == Refusal();
        return count;
    }

    std::string Refusal() {
        return "The text was not added: the document would grow past " +
               DescribeSize(Editor()->SizeLimit()) + ", the most Varne can hold.";
    }
};

TEST_F(DocumentLimitTest, TypingStopsAtTheLimit) {
    AddText(std::string(limit - 2, 'a'));
    TypeText("xyz");
    EXPECT_EQ(Length(), limit);
    EXPECT_EQ(EditorText(), std::string(limit - 2, 'a') + "xy");
    EXPECT_EQ(Refusals(), 1);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].caption, "Varne");
    EXPECT_EQ(desktop.messages[0].type, platform::MB_OK);

    // Room made by deleting is there to type into again.
    Key(Qt::Key_Backspace);
    TypeText("z");
    EXPECT_EQ(EditorText(), std::string(limit - 2, 'a') + "xz");
}

TEST_F(DocumentLimitTest, TypingOverTheTextFitsAtTheLimit) {
    Opened(std::string(limit, 'o'));
    Key(Qt::Key_Insert); // the mode in which typed text replaces the text
    TypeText("ab");
    EXPECT_EQ(EditorText(), "ab" + std::string(limit - 2, 'o'));
    EXPECT_EQ(Refusals(), 0);
    theApp.SendEditor(SCI_GOTOPOS, limit);
    TypeText("c");
    EXPECT_EQ(Length(), limit) << "nothing left to replace at the end";
    EXPECT_EQ(Refusals(), 1);
}

// Typing over a character with a longer one adds to the text, and so does
// typing at a line's end: refused before anything changes. A drop refused at
// the limit is not taken from a source that offered to move it.
TEST_F(DocumentLimitTest, TypingOverTheTextAndDropsAreCheckedBeforeAnythingChanges) {
    Opened("ab\xC3\xA9"
           "d\n");
    Editor()->SetSizeLimit(6);
    Key(Qt::Key_Insert);
    theApp.SendEditor(SCI_GOTOPOS, 4);
    QKeyEvent eAcute(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9"));
    QApplication::sendEvent(Editor(), &eAcute); // two bytes over one
    EXPECT_EQ(EditorText(), "ab\xC3\xA9"
                            "d\n");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(Refusals(), 1);
    theApp.SendEditor(SCI_GOTOPOS, 2);
    TypeText("xyz");
    EXPECT_EQ(EditorText(), "abxyz\n") << "x over \u00e9, y over d, z at the line's end";
    TypeText("!");
    EXPECT_EQ(Refusals(), 2);

    EXPECT_FALSE(DropFromElsewhere("1", QPoint(4, 4)));
    EXPECT_EQ(EditorText(), "abxyz\n");
    EXPECT_EQ(Refusals(), 3);
}

TEST_F(DocumentLimitTest, ARefusedInsertionLeavesTheDocumentCleanWithNothingToUndo) {
    // Typed text, a tab, a new line and the component's own duplication: the
    // first two are checked by the window, the others by the component's check.
    const std::string full(limit, 'f');
    const std::string path = Opened(full);
    struct Attempt {
        const char* what;
        std::function<void()> run;
    } attempts[] = {
        {"typed text", [&] { TypeText("x"); }},
        {"Enter", [&] { Key(Qt::Key_Return); }},
        {"Tab", [&] { Key(Qt::Key_Tab); }},
        {"duplicating the line", [&] { Key(Qt::Key_D, Qt::ControlModifier); }},
        {"text added by a message", [&] { AddText("x"); }},
    };
    int refusals = 0;
    for (const Attempt& attempt : attempts) {
        SCOPED_TRACE(attempt.what);
        attempt.run();
        EXPECT_EQ(EditorText(), full);
        EXPECT_EQ(Refusals(), ++refusals);
        EXPECT_FALSE(theApp.modified);
        EXPECT_FALSE(MenuEnabled(IDM_SAVE));
        EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0) << "no empty step in the undo history";
    }
    EXPECT_EQ(ReadBytes(path), full);
}

TEST_F(DocumentLimitTest, TheRefusalIsReportedAfterTheComponentsCallReturns) {
    Opened(std::string(limit, 'f'));
    Key(Qt::Key_Tab);
    EXPECT_TRUE(desktop.messages.empty()) << "no message box inside the component's call";
    // The text is editable again as soon as the key press is over.
    theApp.SendEditor(SCI_GOTOPOS, limit);
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Length(), limit - 1);
    EXPECT_EQ(Refusals(), 1);
}

TEST_F(DocumentLimitTest, APasteOverASelectionIsCheckedBeforeAnythingChanges) {
    const std::string text(limit - 4, 't');
    AddText(text);
    Select(10, 12);
    SetClipboard("0123456789"); // 60 - 2 + 10 > 64
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), text) << "the selection is still there";
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONSTART), 10);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONEND), 12);
    EXPECT_EQ(Refusals(), 1);

    SetClipboard("012345"); // exactly to the limit
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), text.substr(0, 10) + "012345" + text.substr(12));
    EXPECT_EQ(Length(), limit);
    EXPECT_EQ(Refusals(), 1);
}

TEST_F(DocumentLimitTest, RowsThatNeedMoreRoomThanTheirBytesAreTakenBackWhole) {
    // The second row lands on an empty line, padded out to the first row's
    // column with spaces that do not fit.
    const std::string text = "long line\n\n";
    Opened(text);
    Editor()->SetSizeLimit(Position(text.size()) + 4);
    theApp.SendEditor(SCI_GOTOPOS, 5);
    QApplication::clipboard()->setMimeData(MimeDataForBytes("a\nb", true));
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), text);
    EXPECT_LE(Length(), Editor()->SizeLimit());
    QApplication::processEvents();
    EXPECT_NE(LastMessage().find("The text was not added"), std::string::npos) << LastMessage();

    // With room enough the same rows go in.
    Editor()->SetSizeLimit(limit);
    Command(IDM_PASTE);
    const std::string pasted = EditorText();
    ASSERT_GT(pasted.size(), 13u);
    EXPECT_EQ(pasted.substr(0, 11), "long aline\n");
    EXPECT_EQ(pasted.substr(11, pasted.size() - 13), std::string(pasted.size() - 13, ' '));
    EXPECT_EQ(pasted.substr(pasted.size() - 2), "b\n");
}

TEST_F(DocumentLimitTest, EnterOverASelectionIsCheckedBeforeAnythingChanges) {
    const std::string text = "a\r\n" + std::string(limit - 3, 'c');
    Opened(text); // CRLF: Enter needs two bytes
    Select(5, 6);
    Key(Qt::Key_Return);
    EXPECT_EQ(EditorText(), text);
    EXPECT_EQ(Refusals(), 1);
}

TEST_F(DocumentLimitTest, DropsAreCheckedButAMoveWithinAlwaysFits) {
    const std::string text(limit, 'd');
    Opened(text);
    Editor()->Drop(3, "xy", false, EditorWindow::DropKind::FromElsewhere);
    EXPECT_EQ(EditorText(), text);
    EXPECT_EQ(Refusals(), 1);

    Select(0, 4);
    Editor()->Drop(10, "dddd", false, EditorWindow::DropKind::MoveOfSelection);
    EXPECT_EQ(EditorText(), text);
    EXPECT_EQ(theApp.SendEditor(SCI_GETSELECTIONSTART), 6);
    EXPECT_EQ(Refusals(), 1);
}

TEST_F(DocumentLimitTest, UndoAndRedoNeverPassTheLimit) {
    // They only return to texts the document had, each within the limit.
    Opened(std::string(limit, 'o'));
    Command(IDM_SELECTALL);
    Command(IDM_DELETE);
    TypeText("new");
    Command(IDM_UNDO);
    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), std::string(limit, 'o'));
    Command(IDM_REDO);
    Command(IDM_REDO);
    EXPECT_EQ(EditorText(), "new");

    // Random edits up to and against the limit, then all the way back and forth.
    std::mt19937 random(4242);
    std::vector<Position> lengths;
    for (int step = 0; step < 300; ++step) {
        const Position length = Length();
        switch (random() % 4) {
        case 0:
            Select(random() % (length + 1), random() % (length + 1));
            SetClipboard(std::string(random() % 20, char('a' + random() % 26)));
            Command(IDM_PASTE);
            break;
        case 1:
            Select(random() % (length + 1), random() % (length + 1));
            Command(IDM_DELETE);
            break;
        case 2:
            theApp.SendEditor(SCI_GOTOPOS, random() % (length + 1));
            TypeText(std::string(1 + random() % 5, 'k'));
            break;
        default:
            Key(Qt::Key_D, Qt::ControlModifier);
            break;
        }
        ASSERT_LE(Length(), limit) << "step " << step;
        lengths.push_back(Length());
    }
    EXPECT_GT(Refusals(), 0) << "the edits should have reached the limit";
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), limit);
    int undone = 0;
    while (theApp.SendEditor(EM_CANUNDO)) {
        Command(IDM_UNDO);
        ASSERT_LE(Length(), limit);
        ++undone;
    }
    EXPECT_EQ(EditorText(), std::string(limit, 'o'));
    while (theApp.SendEditor(SCI_CANREDO)) {
        Command(IDM_REDO);
        ASSERT_LE(Length(), limit);
        --undone;
    }
    EXPECT_EQ(undone, 0);
    EXPECT_EQ(Length(), lengths.back());
}

TEST_F(DocumentLimitTest, FilesAboveTheLimitAreNotOpened) {
    AddText("current");
    const std::string path = dir.Path("big.html");
    WriteBytes(path, std::string(limit + 1, 'b'));
    theApp.LoadFile(path);
    EXPECT_EQ(LastMessage(), "Could not open file \"" + path +
                                 "\".\n\nThe file is too large: Varne opens files of up to 64 "
                                 "bytes.");
    EXPECT_EQ(EditorText(), "current");

    Opened(std::string(limit, 'b'));
    EXPECT_EQ(theApp.filePath, dir.Path("page.html"));
}

TEST(DocumentLimit, TheRealLimitRefusesLargerFilesAtOnce) {
    // Sparse, so that no gigabytes are written; refused before any reading.
    TempDir dir;
    const std::string path = dir.Path("huge.html");
    WriteBytes(path, "");
    ASSERT_EQ(::truncate(path.c_str(), EditorWindow::defaultSizeLimit + 1), 0);
    FileReader tooLarge;
    EXPECT_EQ(tooLarge.Open(path, EditorWindow::defaultSizeLimit).reason,
              "The file is too large: Varne opens files of up to 1.9 GiB.");
    ASSERT_EQ(::truncate(path.c_str(), EditorWindow::defaultSizeLimit), 0);
    FileReader largest;
    EXPECT_TRUE(largest.Open(path, EditorWindow::defaultSizeLimit).Ok());
}

} // namespace
