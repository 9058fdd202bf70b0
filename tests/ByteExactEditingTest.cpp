// Edits made inside Varne change only the bytes they mean to change: Enter adds
// the line end the file already uses, and whatever is cut, copied, pasted or
// dropped keeps every byte, line ends, NULs and invalid UTF-8 included.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <memory>

#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

class ByteExactEditingTest : public EditorTest {
  protected:
    void Open(const std::string& bytes) {
        const std::string path = dir.Path("page.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        ASSERT_EQ(EditorText(), bytes);
    }

    EditorWindow* Editor() { return theApp.editorWindow; }

    void Select(Position start, Position end) {
        theApp.SendEditor(SCI_SETSEL, static_cast<unsigned long>(start), end);
    }

    void GoTo(Position position) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
    }

    // Saves under a name no earlier save of the test used, so that no
    // question about replacing a file comes up.
    std::string SavedAs(const std::string& name) {
        EXPECT_FALSE(Exists(dir.Path(name))) << name << " was saved before";
        desktop.fileNames = {dir.Path(name)};
        Command(IDM_SAVEAS);
        return ReadBytes(dir.Path(name));
    }

    void PressEnterAtTheEnd() {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(EditorText().size()));
        QTest::keyClick(theApp.editorWindow, Qt::Key_Return);
    }
};

TEST_F(ByteExactEditingTest, EnterAddsTheLineEndOfTheFirstLine) {
    const std::string longLine(131071, 'x'); // its CR ends the first block, its LF starts the next
    const struct {
        const char* what;
        std::string bytes;
        std::string enter;
    } cases[] = {
        {"CRLF", "<p>\r\n</p>\r\n", "\r\n"},
        {"CR", "<p>\r</p>\r", "\r"},
        {"LF", "<p>\n</p>\n", "\n"},
        {"CRLF first, then others", "a\r\nb\nc\rd", "\r\n"},
        {"CR first, then LF", "a\rb\n", "\r"},
        {"LF first, then CRLF", "a\nb\r\n", "\n"},
        {"a lone CR as the last byte", "abc\r", "\r"},
        {"no line end at all", "<p>", "\n"},
        {"empty", "", "\n"},
        {"CRLF split across two blocks", longLine + "\r\nz", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Open(c.bytes);
        PressEnterAtTheEnd();
        EXPECT_EQ(EditorText(), c.bytes + c.enter) << "nothing converted, one line end added";
    }
}

TEST_F(ByteExactEditingTest, ANewDocumentUsesLFAgain) {
    Open("a\r\nb");
    Command(IDM_NEW);
    PressEnterAtTheEnd();
    EXPECT_EQ(EditorText(), "\n");

    // A file that cannot be opened leaves the document, and its line end, alone.
    Open("a\rb");
    theApp.LoadFile(dir.Path("missing"));
    PressEnterAtTheEnd();
    EXPECT_EQ(EditorText(), "a\rb\r");
}

// Every line end, NULs, bytes that are not UTF-8, and every byte value.
std::string MixedBytes() {
    const char head[] = "<p>CRLF\r\nCR\rLF\nNUL\0 \xFF\xFE\xC3\x28\xE2\x82 \r\r\n\n\r";
    std::string bytes(head, sizeof head - 1);
    for (int repeat = 0; repeat < 2; ++repeat)
        for (int b = 0; b < 256; ++b)
            bytes += char(b);
    return bytes + "\r\n</p>";
}

QByteArray ClipboardBytes() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data ? data->data(varneBytesType) : QByteArray();
}

std::string Str(const QByteArray& bytes) {
    return bytes.toStdString();
}

TEST_F(ByteExactEditingTest, CutAndPasteInsideVarneKeepEveryByte) {
    const std::string bytes = MixedBytes();
    ASSERT_NE(bytes.find(std::string(1, '\0')), std::string::npos);
    for (const char* eol : {"\r\n", "\r", "\n"}) {
        SCOPED_TRACE(std::string("document ending lines with ") + (eol[0] == '\n' ? "LF"
                                                                   : eol[1]       ? "CRLF"
                                                                                  : "CR"));
        Open(eol + bytes); // the first line end decides the end-of-line mode
        Command(IDM_SELECTALL);
        Command(IDM_CUT);
        EXPECT_EQ(EditorText(), "");
        EXPECT_EQ(Str(ClipboardBytes()), eol + bytes);
        Command(IDM_PASTE);
        EXPECT_EQ(EditorText(), eol + bytes);
        EXPECT_EQ(SavedAs(std::string("cut-and-pasted-") + (eol[0] == '\n' ? "lf"
                                                            : eol[1]       ? "crlf"
                                                                           : "cr")),
                  eol + bytes);
    }
}

TEST_F(ByteExactEditingTest, CopyPutsExactBytesForVarneAndTextForOthers) {
    Open(std::string("ab\r\nc\0d\xFF\re", 10));
    Select(1, 9);
    Command(IDM_COPY);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(Str(data->data(varneBytesType)), std::string("b\r\nc\0d\xFF\r", 8));
    EXPECT_TRUE(data->hasText());
    EXPECT_EQ(data->text(), QString::fromUtf8("b\r\nc\0d\xFF\r", 8)) << "readable elsewhere";
    EXPECT_EQ(EditorText(), std::string("ab\r\nc\0d\xFF\re", 10)) << "copy changes nothing";

    // A copy pasted twice, at the end, into a CR document: no line end changes.
    GoTo(10);
    Command(IDM_PASTE);
    Command(IDM_PASTE);
    const std::string copied("b\r\nc\0d\xFF\r", 8);
    EXPECT_EQ(EditorText(), std::string("ab\r\nc\0d\xFF\re", 10) + copied + copied);
}

TEST_F(ByteExactEditingTest, PasteReplacesTheSelectionInOneUndoStep) {
    Open("one two three");
    Select(4, 7);
    QApplication::clipboard()->setMimeData(MimeDataForBytes(QByteArray("2\0\r\n", 4), false));
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), std::string("one 2\0\r\n three", 14));
    EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), 8) << "the caret follows the pasted bytes";
    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), "one two three");
}

TEST_F(ByteExactEditingTest, TextFromOtherProgramsIsInsertedWholeNulsIncluded) {
    Open("[]\r\n");
    // Another program's text, decoded by the platform, NUL and lone LF in it.
    auto* text = new QMimeData;
    text->setText(QString::fromUtf8("a\0b\nc\r\xC3\xA9", 8));
    QApplication::clipboard()->setMimeData(text);
    GoTo(1);
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), std::string("[a\0b\nc\r\xC3\xA9]\r\n", 12));

    // Text offered as raw UTF-8 is taken as given, even bytes that are not.
    auto* raw = new QMimeData;
    raw->setData("text/plain;charset=utf-8", QByteArray("\xFF\0\r", 3));
    QApplication::clipboard()->setMimeData(raw);
    Command(IDM_SELECTALL);
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), std::string("\xFF\0\r", 3));
}

TEST_F(ByteExactEditingTest, TheComponentsClipboardKeysAreByteExactToo) {
    const std::string line1("a\0b\r\n", 5), line2("c\xFF\r"), line3("d\n");
    Open(line1 + line2 + line3);
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(Editor(), k, modifiers);
    };

    Select(0, 4); // "a\0b\r"
    key(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(Str(ClipboardBytes()), std::string("a\0b\r", 4));
    key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(EditorText(), "\n" + line2 + line3);
    key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(EditorText(), line1 + line2 + line3);

    // The line commands take whole lines, line end included.
    GoTo(1);
    key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Str(ClipboardBytes()), line1);
    EXPECT_EQ(EditorText(), line1 + line2 + line3);
    GoTo(6);
    key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(Str(ClipboardBytes()), line2);
    EXPECT_EQ(EditorText(), line1 + line3);
}

TEST_F(ByteExactEditingTest, TheComponentsOwnCopiesGiveTheSelectionsBytes) {
    // The component copies for itself for the primary selection and drags.
    Open(std::string("x\0y\xFEz\r\n", 7));
    Select(0, 5);
    Editor()->SendScintilla(SCI_COPY);
    EXPECT_EQ(Str(ClipboardBytes()), std::string("x\0y\xFEz", 5));
    // A copy of something else than the selection keeps what it was given.
    Editor()->SendScintilla(2420 /* SCI_COPYTEXT */, 3, "abc");
    EXPECT_EQ(Str(ClipboardBytes()), "abc");
}

TEST_F(ByteExactEditingTest, RectangularSelectionsTravelAsRows) {
    // Rows of the same glyphs, so that the columns are the same bytes.
    Open(std::string("a\0b1\na\0b2\n", 10));
    theApp.SendEditor(SCI_SETRECTANGULARSELECTIONANCHOR, 0);
    theApp.SendEditor(SCI_SETRECTANGULARSELECTIONCARET, 8); // columns 0 to 3 of both lines
    Command(IDM_COPY);
    EXPECT_EQ(Str(ClipboardBytes()), std::string("a\0b\na\0b\n", 8));
    EXPECT_TRUE(IsRectangular(QApplication::clipboard()->mimeData()));

    // The rows land one under the other, bytes intact.
    Command(IDM_NEW);
    AddText("12\n34\n");
    GoTo(1);
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), std::string("1a\0b2\n3a\0b4\n", 12));
}

TEST_F(ByteExactEditingTest, TheContextMenuUsesTheByteExactCommands) {
    Open(std::string("p\0q\r\nr", 6));
    Select(0, 3);
    std::unique_ptr<QMenu> menu(Editor()->CreateContextMenu());
    QStringList labels;
    for (QAction* action : menu->actions())
        labels << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(labels, QStringList({"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Delete", "-",
                                   "Select All"}));
    auto action = [&](const QString& label) {
        for (QAction* a : menu->actions())
            if (a->text() == label)
                return a;
        return static_cast<QAction*>(nullptr);
    };
    EXPECT_FALSE(action("Undo")->isEnabled());
    EXPECT_TRUE(action("Cut")->isEnabled());
    action("Cut")->trigger();
    EXPECT_EQ(Str(ClipboardBytes()), std::string("p\0q", 3));
    EXPECT_EQ(EditorText(), "\r\nr");

    menu.reset(Editor()->CreateContextMenu());
    EXPECT_FALSE(action("Copy")->isEnabled()) << "nothing selected";
    EXPECT_TRUE(action("Paste")->isEnabled());
    EXPECT_TRUE(action("Undo")->isEnabled());
    GoTo(3);
    action("Paste")->trigger();
    EXPECT_EQ(EditorText(), std::string("\r\nrp\0q", 6));
}

TEST_F(ByteExactEditingTest, DropsInsertTheDroppedBytesUnconverted) {
    using Kind = EditorWindow::DropKind;
    Open("<a>\r\n<b>\r\n");
    // Dragged in from another program and dropped at the start of the second line.
    const QPoint point(int(Editor()->SendScintilla(SCI_POINTXFROMPOSITION, 0UL, 5L)) + 1,
                       int(Editor()->SendScintilla(SCI_POINTYFROMPOSITION, 0UL, 5L)) + 2);
    std::unique_ptr<QMimeData> data(MimeDataForBytes(QByteArray("x\0\ny", 4), false));
    QDragEnterEvent enter(point, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Editor()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(point, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Editor()->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(EditorText(), std::string("<a>\r\nx\0\ny<b>\r\n", 14));

    // The selection moved within the window: out of its place, into the new one.
    const QByteArray moved("x\0\ny", 4);
    Select(5, 9);
    Editor()->Drop(0, moved, false, Kind::MoveOfSelection);
    EXPECT_EQ(EditorText(), std::string("x\0\ny<a>\r\n<b>\r\n", 14));
    Editor()->Drop(2, moved, false, Kind::MoveOfSelection);
    EXPECT_EQ(EditorText(), std::string("x\0\ny<a>\r\n<b>\r\n", 14)) << "onto itself";
    Select(0, 4);
    Editor()->Drop(14, moved, false, Kind::MoveOfSelection);
    EXPECT_EQ(EditorText(), std::string("<a>\r\n<b>\r\nx\0\ny", 14));
    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), std::string("x\0\ny<a>\r\n<b>\r\n", 14)) << "a move is one step";

    // A copy may land on the selection's edge.
    Select(0, 4);
    Editor()->Drop(4, moved, false, Kind::CopyOfSelection);
    EXPECT_EQ(EditorText(), std::string("x\0\nyx\0\ny<a>\r\n<b>\r\n", 18));
}

TEST_F(ByteExactEditingTest, DroppedRowsLandOneUnderTheOther) {
    Open("ab\nab\n");
    Editor()->Drop(1, QByteArray("\0\r\n\xFF", 4), true, EditorWindow::DropKind::FromElsewhere);
    EXPECT_EQ(EditorText(), std::string("a\0b\na\xFF"
                                        "b\n",
                                        8));
}

} // namespace
