#include <QApplication>
#include <sys/stat.h>
#include <unistd.h>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

using platform::IDCANCEL;
using platform::IDNO;
using platform::IDYES;

class DocumentTest : public EditorTest {
  protected:
    // A file on disk, loaded as Open would.
    std::string Opened(const std::string& name, const std::string& bytes) {
        const std::string path = dir.Path(name);
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        return path;
    }

    std::string Pattern(size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 131) & 0xFF);
        return bytes;
    }
};

TEST_F(DocumentTest, FilesRoundTripByteForByte) {
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes += char(b);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"one byte", "x"},
        {"one byte short of a block", Pattern(131071)},
        {"one block", Pattern(131072)},
        {"one block and a byte", Pattern(131073)},
        {"several blocks and a few bytes", Pattern(3 * 131072 + 5)},
        {"every byte value", allBytes + allBytes},
        {"NUL bytes", std::string("a\0b\0\0c", 6)},
        {"mixed line ends", "one\r\ntwo\rthree\nfour\n\r\n\r"},
        {"bytes above 127", "caf\xC3\xA9 \xFF\xFE\x80 \xE9t\xE9"},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        const std::string path = Opened("in.bin", bytes);
        EXPECT_EQ(EditorText(), bytes);
        EXPECT_EQ(Caption(), "Varne - " + path);
        EXPECT_FALSE(theApp.modified);
        EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0) << "a load leaves nothing to undo";

        const std::string copy = dir.Path("out.bin");
        desktop.fileNames = {copy};
        if (Exists(copy))
            desktop.answers = {IDYES}; // replace the previous case's copy
        Command(IDM_SAVEAS);
        EXPECT_EQ(ReadBytes(copy), bytes);
        EXPECT_EQ(theApp.filePath, copy);
    }
    for (const MessageRecord& message : desktop.messages)
        EXPECT_EQ(message.type, platform::MB_YESNO) << "not the replace question: " << message.text;
}

// A range is read within the document, followed by a NUL, and nothing is
// written outside the room the caller gave: past the end, before the start or
// backwards.
TEST_F(DocumentTest, TextRangesStayWithinTheDocumentAndTheBuffer) {
    AddText(std::string("ab\0cdef", 7));
    const struct {
        Position start, end;
        std::string expected; // what lands in the buffer, NUL included
    } cases[] = {
        {0, 7, std::string("ab\0cdef\0", 8)},
        {2, 4, std::string("\0c\0", 3)},
        {3, 3, std::string("\0", 1)},
        {5, 12, std::string("ef\0", 3)},
        {-3, 2, std::string("ab\0", 3)},
        {9, 12, std::string("\0", 1)},
        {4, 2, ""},
    };
    for (const auto& c : cases) {
        // Room for end - start + 1 bytes, between guards that must stay.
        const size_t room = size_t(std::max<Position>(c.end - c.start + 1, 0));
        std::string buffer(room + 8, '#');
        theApp.GetTextRange(c.start, c.end, buffer.data() + 4);
        const std::string written = buffer.substr(4, c.expected.size());
        EXPECT_EQ(written, c.expected) << c.start << ".." << c.end;
        EXPECT_EQ(buffer.substr(0, 4), "####") << c.start << ".." << c.end;
        EXPECT_EQ(buffer.find_first_not_of('#', 4 + c.expected.size()), std::string::npos)
            << c.start << ".." << c.end;
    }
}

TEST_F(DocumentTest, LoadPutsTheCaretAtTheStartWithAnEmptyUndoHistory) {
    Opened("page.html", "<p>hello</p>");
    EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), 0);
    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), "<p>hello</p>");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(theApp.editorWindow, QApplication::focusWidget() ? QApplication::focusWidget()
                                                               : theApp.frameWindow->focusWidget());
}

TEST_F(DocumentTest, EditsAndUndoFollowTheSavePoint) {
    const std::string path = Opened("page.html", "abc");
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
    EXPECT_FALSE(MenuEnabled(IDM_UNDO));

    TypeText("x");
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(MenuEnabled(IDM_SAVE));
    EXPECT_TRUE(MenuEnabled(IDM_UNDO));

    Command(IDM_UNDO);
    EXPECT_FALSE(theApp.modified);
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
    EXPECT_TRUE(MenuEnabled(IDM_REDO));

    Command(IDM_REDO);
    EXPECT_TRUE(theApp.modified);
    Command(IDM_SAVE);
    EXPECT_FALSE(theApp.modified);
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
    EXPECT_EQ(ReadBytes(path), "xabc");
    EXPECT_EQ(Caption(), "Varne - " + path);
}

TEST_F(DocumentTest, CutAndDeleteStayEnabledWithoutASelection) {
    TypeText("abc");
    Command(IDM_SELECTALL);
    Command(IDM_CUT);
    EXPECT_EQ(EditorText(), "");
    for (unsigned short id :
         {IDM_NEW, IDM_OPEN, IDM_SAVEAS, IDM_EXIT, IDM_CUT, IDM_COPY, IDM_DELETE, IDM_SELECTALL})
        EXPECT_TRUE(MenuEnabled(id)) << id;
    Command(IDM_PASTE);
    EXPECT_EQ(EditorText(), "abc");
}

TEST_F(DocumentTest, NewAsksOnlyAboutUnsavedChanges) {
    const std::string path = Opened("page.html", "abc");
    Command(IDM_NEW);
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_TRUE(theApp.filePath.empty());

    TypeText("draft");
    desktop.answers = {IDCANCEL};
    Command(IDM_NEW);
    EXPECT_EQ(EditorText(), "draft");
    EXPECT_TRUE(theApp.modified);

    desktop.answers = {IDNO};
    Command(IDM_NEW);
    EXPECT_EQ(EditorText(), "");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "abc");
}

TEST_F(DocumentTest, YesToTheQuestionSavesATitledDocumentFirst) {
    const std::string path = Opened("page.html", "abc");
    TypeText("new ");
    desktop.answers = {IDYES};
    Command(IDM_NEW);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, "Save changes to \"" + path + "\"?");
    EXPECT_EQ(desktop.messages[0].caption, "Varne");
    EXPECT_EQ(desktop.messages[0].type, platform::MB_YESNOCANCEL);
    EXPECT_EQ(ReadBytes(path), "new abc");
    EXPECT_EQ(EditorText(), "");
}

TEST_F(DocumentTest, SavingAnUntitledDocumentAsksForAName) {
    TypeText("draft");
    desktop.fileNames = {""};
    Command(IDM_SAVE);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_TRUE(desktop.dialogs[0].save);
    EXPECT_EQ(desktop.dialogs[0].request.title, "Save File");
    EXPECT_TRUE(desktop.dialogs[0].request.filters.empty());
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_TRUE(desktop.messages.empty());

    const std::string path = dir.Path("draft.html");
    desktop.fileNames = {path};
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(path), "draft");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(Caption(), "Varne - " + path);
}

TEST_F(DocumentTest, YesMustNotLoseTheTextWhenTheSaveDoesNotHappen) {
    TypeText("precious");
    // Yes, then the Save As dialog is cancelled: New does not go ahead.
    desktop.answers = {IDYES};
    desktop.fileNames = {""};
    Command(IDM_NEW);
    EXPECT_EQ(EditorText(), "precious");
    EXPECT_TRUE(theApp.modified);

    // Yes, then the save fails: Exit does not go ahead either.
    desktop.answers = {IDYES};
    desktop.fileNames = {dir.Path("missing/folder/x.html")};
    Command(IDM_EXIT);
    EXPECT_TRUE(desktop.quits.empty());
    EXPECT_EQ(EditorText(), "precious");
    EXPECT_TRUE(theApp.modified);

    // Nor Open, nor closing the window; the failed name was not adopted, so
    // Yes asks for a name again, and cancelling that stops both.
    EXPECT_TRUE(theApp.filePath.empty());
    desktop.answers = {IDYES, IDYES};
    desktop.fileNames = {"", ""};
    Command(IDM_OPEN);
    EXPECT_FALSE(theApp.frameWindow->close());
    EXPECT_TRUE(desktop.quits.empty());
    EXPECT_EQ(EditorText(), "precious");
    EXPECT_TRUE(theApp.modified);
}

TEST_F(DocumentTest, OpenShowsTheWebFilterFirstAndLoadsTheChoice) {
    const std::string path = dir.Path("style.css");
    WriteBytes(path, "p { color: red }");
    desktop.fileNames = {path};
    Command(IDM_OPEN);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    const platform::FileDialogRequest& request = desktop.dialogs[0].request;
    EXPECT_FALSE(desktop.dialogs[0].save);
    EXPECT_EQ(request.title, "Open File");
    ASSERT_EQ(request.filters.size(), 2u);
    EXPECT_EQ(request.filters[0].displayText, "Web (.html;.htm;.asp;.shtml;.css;.xml)");
    EXPECT_EQ(request.filters[0].pattern, "*.html;*.htm;*.asp;*.shtml;*.css;*.xml");
    EXPECT_EQ(request.filters[1].displayText, "All Files (*.*)");
    EXPECT_EQ(request.filters[1].pattern, "*.*");
    EXPECT_EQ(EditorText(), "p { color: red }");
    EXPECT_EQ(Caption(), "Varne - " + path);
}

TEST_F(DocumentTest, NoThenCancellingTheOpenDialogKeepsTheText) {
    TypeText("keep me");
    desktop.answers = {IDNO};
    desktop.fileNames = {""};
    Command(IDM_OPEN);
    EXPECT_EQ(EditorText(), "keep me");
    EXPECT_TRUE(theApp.modified);
}

TEST_F(DocumentTest, SaveAsStartsFromTheCurrentPathAndAdoptsTheNewOneOnlyOnceSaved) {
    const std::string path = Opened("a.html", "abc");
    const std::string other = dir.Path("b.html");
    desktop.fileNames = {other};
    Command(IDM_SAVEAS);
    EXPECT_EQ(desktop.dialogs[0].request.initialPath, path);
    EXPECT_EQ(ReadBytes(other), "abc");
    EXPECT_EQ(Caption(), "Varne - " + other);

    // A name that cannot be written is reported and not adopted: the caption
    // and the next Save still go to the last good name.
    TypeText("z");
    const std::string bad = dir.Path("no/such/folder.html");
    desktop.fileNames = {bad};
    Command(IDM_SAVEAS);
    EXPECT_EQ(LastMessage().rfind("Could not save file \"" + bad + "\".", 0), 0u) << LastMessage();
    EXPECT_EQ(Caption(), "Varne - " + other);
    EXPECT_EQ(theApp.filePath, other);
    EXPECT_TRUE(theApp.modified);
    EXPECT_TRUE(MenuEnabled(IDM_SAVE));
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(other), "zabc");
    EXPECT_FALSE(theApp.modified);
    EXPECT_FALSE(Exists(bad));
}

TEST_F(DocumentTest, SaveAsAsksBeforeReplacingAFileAndNoChoosesAgain) {
    const std::string path = Opened("a.html", "mine");
    const std::string other = dir.Path("b.html");
    WriteBytes(other, "someone's work");
    TypeText("edit ");

    // No brings the dialog back at the refused name; cancelling it then
    // changes nothing at all.
    desktop.fileNames = {other, ""};
    desktop.answers = {IDNO};
    Command(IDM_SAVEAS);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text,
              "The file \"" + other + "\" already exists.\n\nDo you want to replace it?");
    EXPECT_EQ(desktop.messages[0].caption, "Varne");
    EXPECT_EQ(desktop.messages[0].type, platform::MB_YESNO);
    ASSERT_EQ(desktop.dialogs.size(), 2u);
    EXPECT_EQ(desktop.dialogs[1].request.title, "Save File");
    EXPECT_EQ(desktop.dialogs[1].request.initialPath, other);
    EXPECT_EQ(ReadBytes(other), "someone's work");
    EXPECT_EQ(theApp.filePath, path);
    EXPECT_EQ(Caption(), "Varne - " + path);
    EXPECT_TRUE(theApp.modified);

    desktop.fileNames = {other};
    desktop.answers = {IDYES};
    Command(IDM_SAVEAS);
    EXPECT_EQ(ReadBytes(other), "edit mine");
    EXPECT_EQ(theApp.filePath, other);
    EXPECT_FALSE(theApp.modified);

    // Save writes the current file without a question.
    TypeText("more ");
    const size_t asked = desktop.messages.size();
    Command(IDM_SAVE);
    EXPECT_EQ(desktop.messages.size(), asked);
    EXPECT_EQ(ReadBytes(other), EditorText());
    EXPECT_FALSE(theApp.modified);
}

TEST_F(DocumentTest, AFileThatCannotBeOpenedChangesNothing) {
    const std::string path = Opened("a.html", "abc");
    TypeText("edit ");
    const std::string missing = dir.Path("missing.html");
    theApp.LoadFile(missing);
    EXPECT_EQ(LastMessage().rfind("Could not open file \"" + missing + "\".", 0), 0u)
        << LastMessage();
    EXPECT_EQ(desktop.messages.back().type, platform::MB_OK);
    EXPECT_EQ(EditorText(), "edit abc");
    EXPECT_EQ(theApp.filePath, path);
    EXPECT_EQ(Caption(), "Varne - " + path);
    EXPECT_TRUE(theApp.modified);
}

TEST_F(DocumentTest, AReadErrorLeavesAnEmptyUntitledDocument) {
    // A regular file whose every read fails (for root, who may open it).
    const std::string failing = "/proc/self/clear_refs";
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to open " << failing;
    Opened("a.html", "abc");
    TypeText("edit ");
    theApp.LoadFile(failing);
    EXPECT_EQ(LastMessage(), "Could not read file \"" + failing + "\".\n\nInvalid argument.");
    EXPECT_EQ(EditorText(), "");
    EXPECT_TRUE(theApp.filePath.empty());
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(theApp.SendEditor(EM_CANUNDO), 0);
}

TEST_F(DocumentTest, FailedSavesAreReportedAndKeepTheDocumentModified) {
    const std::string folder = dir.Path("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const std::string& target : {std::string("/dev/full"), dir.Path("none/x.html"), folder}) {
        SCOPED_TRACE(target);
        TypeText("x");
        desktop.fileNames = {target};
        Command(IDM_SAVEAS);
        EXPECT_EQ(LastMessage().rfind("Could not save file \"" + target + "\".", 0), 0u)
            << LastMessage();
        EXPECT_TRUE(theApp.modified);
    }
}

TEST_F(DocumentTest, PathsAreNotCutShortButTooLongOnesAreReported) {
    // A path well past 260 bytes, through folders of long names.
    std::string path = dir.Root();
    for (int i = 0; i < 4; ++i) {
        path += "/" + std::string(120, char('a' + i));
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    }
    path += "/page.html";
    TypeText("deep");
    desktop.fileNames = {path};
    Command(IDM_SAVEAS);
    EXPECT_EQ(ReadBytes(path), "deep");
    EXPECT_EQ(theApp.filePath, path);

    const std::string tooLong = dir.Root() + "/" + std::string(300, 'n');
    theApp.LoadFile(tooLong);
    EXPECT_NE(LastMessage().find("File name too long"), std::string::npos) << LastMessage();
    EXPECT_EQ(theApp.filePath, path);
}

} // namespace
