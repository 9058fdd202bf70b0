// Edits made inside Varne change only the bytes they mean to change: Enter adds
// the line end the file already uses.
#include <QTest>

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

} // namespace
