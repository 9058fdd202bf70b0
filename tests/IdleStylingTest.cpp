// The text beyond the window is styled while the program idles, so that a
// jump far into a big document finds it coloured: no key press, scroll or
// paint of the far end is needed for the styling to reach the end. After an
// edit, styling stops where the styles beyond are still right.
#include <QApplication>
#include <QElapsedTimer>
#include <random>
#include <utility>

#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

constexpr int SCE_H_TAG = 1;
constexpr int SCE_H_DEFAULT = 0;

class IdleStylingTest : public EditorTest {
  protected:
    // Many screens of markup ending in a tag of its own.
    void OpenLongPage() {
        std::string bytes;
        for (int i = 0; bytes.size() < (1u << 20); ++i)
            bytes += "<p class=\"c" + std::to_string(i) + "\">words &amp; more</p>\n";
        bytes += "<b>last</b>\n";
        page = bytes;
        const std::string path = dir.Path("long.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        theApp.editorWindow->viewport()->repaint();
    }

    long EndStyled() { return theApp.SendEditor(SCI_GETENDSTYLED); }
    long Length() { return theApp.SendEditor(SCI_GETLENGTH); }

    // Runs the event loop, as while nobody touches anything, until all the
    // text is styled or the time is up.
    bool IdleUntilAllStyled(int milliseconds = 30000) {
        QElapsedTimer clock;
        clock.start();
        while (EndStyled() < Length() && clock.elapsed() < milliseconds)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        return EndStyled() >= Length();
    }

    int StyleOfLastTag() { return int(theApp.SendEditor(SCI_GETSTYLEAT, page.rfind("<b>") + 1)); }

    std::string page;
};

TEST_F(IdleStylingTest, StylingReachesTheEndWithoutAnyUserAction) {
    OpenLongPage();
    // The paint styled what it shows and little more.
    ASSERT_LT(EndStyled(), Length() / 2);
    EXPECT_EQ(StyleOfLastTag(), SCE_H_DEFAULT) << "not styled yet";

    ASSERT_TRUE(IdleUntilAllStyled()) << EndStyled() << " of " << Length();
    EXPECT_EQ(StyleOfLastTag(), SCE_H_TAG);
}

TEST_F(IdleStylingTest, AnEditNearTheStartIsStyledToTheEndAgain) {
    OpenLongPage();
    ASSERT_TRUE(IdleUntilAllStyled());

    // A key at the start changes the styles of its own line: the paint that
    // shows it styles that line and stops there, with the rest of the page
    // known to be right, and leaves nothing for idle time.
    for (const char* typed : {"x", "\n", "<b>", "\"", "<!-- -->"}) {
        theApp.SendEditor(SCI_GOTOPOS, 0);
        AddText(typed);
        page.insert(0, typed);
        theApp.editorWindow->viewport()->repaint();
        EXPECT_EQ(EndStyled(), Length()) << typed;
    }

    // An unclosed comment at the start of the page turns the rest of it into
    // comment, once styling gets there.
    const unsigned long start = page.find("<p");
    theApp.SendEditor(SCI_GOTOPOS, start);
    AddText("<!-- ");
    theApp.editorWindow->viewport()->repaint();
    ASSERT_LT(EndStyled(), Length() / 2);
    // Undone before that, styling stops as soon as it reaches text the
    // comment had not changed yet, just beyond the window.
    theApp.SendEditor(SCI_UNDO);
    theApp.editorWindow->viewport()->repaint();
    QApplication::processEvents();
    EXPECT_EQ(EndStyled(), Length());
    EXPECT_EQ(StyleOfLastTag(), SCE_H_TAG);

    theApp.SendEditor(SCI_REDO);
    page.insert(start, "<!-- ");
    ASSERT_TRUE(IdleUntilAllStyled());
    constexpr int SCE_H_COMMENT = 9;
    EXPECT_EQ(StyleOfLastTag(), SCE_H_COMMENT);
}

TEST_F(IdleStylingTest, NothingIsStyledWhileAFileIsStillArriving) {
    // Once a progress window is up, the event loop runs between blocks;
    // styling the part that has arrived then would only stretch the load.
    long styledDuringLoad = 0;
    int steps = 0;
    desktop.duringProgress = [&] {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        styledDuringLoad = std::max(styledDuringLoad, EndStyled());
        ++steps;
    };
    OpenLongPage();
    desktop.duringProgress = nullptr;
    ASSERT_GT(steps, 4);
    EXPECT_EQ(styledDuringLoad, 0);

    EXPECT_TRUE(IdleUntilAllStyled());
}

// Styling after edits, compared with the same text styled from scratch by a
// second editor configured as the first.
class CatchUpTest : public IdleStylingTest {
  protected:
    void SetUp() override {
        IdleStylingTest::SetUp();
        EditorWindow* const editor = std::exchange(theApp.editorWindow, &fresh);
        theApp.ConfigureEditor();
        theApp.editorWindow = editor;
    }

    // The styles of every byte and the states of every line that ends.
    static std::string Styling(QsciScintillaBase& editor) {
        const long length = editor.SendScintilla(SCI_GETLENGTH);
        std::string styling;
        for (long i = 0; i < length; ++i)
            styling += char(editor.SendScintilla(SCI_GETSTYLEAT, static_cast<unsigned long>(i)));
        const long lines = editor.SendScintilla(SCI_GETLINECOUNT);
        for (long line = 0; line + 1 < lines; ++line)
            styling += "|" + std::to_string(editor.SendScintilla(SCI_GETLINESTATE,
                                                                 static_cast<unsigned long>(line)));
        return styling;
    }

    // Once styling has stopped, the editor's styling is that of its text
    // styled in one go; the first difference is shown with the text there.
    void ExpectStyledAsFromScratch(const std::string& when) {
        ASSERT_TRUE(IdleUntilAllStyled()) << when;
        const std::string text = EditorText();
        fresh.SendScintilla(SCI_CLEARALL);
        fresh.SendScintilla(SCI_ADDTEXT, text.size(), text.data());
        fresh.SendScintilla(SCI_COLOURISE, 0UL, -1L);
        const std::string expected = Styling(fresh);
        const std::string styling = Styling(*theApp.editorWindow);
        const size_t at =
            size_t(std::mismatch(expected.begin(), expected.end(), styling.begin()).first -
                   expected.begin());
        EXPECT_EQ(at, expected.size()) << when << ": styled otherwise from byte " << at << " on ["
                                       << text.substr(std::min(at, text.size()), 40)
                                       << "] (beyond the text: in the line states)";
    }

    EditorWindow fresh;
};

// Openers and closers of scripts, tags, comments and server blocks, and
// bits of markup and script that lex differently after them.
// clang-format off
const char* const pieces[] = {
    "<script>", "</script>", "<script language=\"vbscript\">", "<!--", "-->", "<%", "%>",
    "<%@ language=\"vbscript\" %>", "/*", "*/", "//", "\"", "'", "<", ">", "<p class=\"a\">",
    "</p>", "&amp;", "&x", "\n", "\n", "\r\n", " ", "x", "var r = /a+/g;", "if ", "Dim s ",
    "<!DOCTYPE html>", "<?", "?>", "<![CDATA[", "]]>", "\\"};
// clang-format on

// Typing, deleting and joining lines, undo and redo, anywhere, whatever the
// styler has done in between.
TEST_F(CatchUpTest, StylesAfterRandomEditsAreThoseOfTheTextStyledFromScratch) {
    std::string page;
    for (int i = 0; i < 120; ++i)
        page += "<div class=\"c" + std::to_string(i) +
                "\">text &amp; more <b>bold</b></div>\n<!-- note\n -->\n"
                "<script>\n  var s = 'a' + /x/.source; // c\n  /* doc\n  */ f(s);\n</script>\n"
                "<% Dim n: n = 1 %>\n<script language=\"vbscript\">\n  Dim t\n</script>\n";
    const std::string path = dir.Path("edits.html");
    WriteBytes(path, page);
    theApp.LoadFile(path);
    theApp.editorWindow->viewport()->repaint();
    ASSERT_TRUE(IdleUntilAllStyled());

    std::mt19937 random(17);
    auto below = [&](long n) { return n > 0 ? long(random() % unsigned(n)) : 0L; };
    for (int step = 0; step < 400 && !HasFailure(); ++step) {
        const long length = Length();
        const long position = below(length + 1);
        const long edit = below(6);
        if (edit < 2) {
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
            AddText(pieces[below(std::size(pieces))]);
        } else if (edit == 2) {
            theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(position),
                              std::min(below(12), length - position));
        } else if (edit == 3) { // joins the line with the next one
            const long line = theApp.SendEditor(SCI_LINEFROMPOSITION, position);
            const long lineEnd =
                theApp.SendEditor(SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
            theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(lineEnd), 1L);
        } else {
            theApp.SendEditor(edit == 4 ? SCI_UNDO : SCI_REDO);
        }
        // Before the next edit: nothing, a paint, a slice, a jump elsewhere
        // and its paint, or all of the styling.
        const long meanwhile = below(5);
        if (meanwhile == 3)
            theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(below(Length() + 1)));
        if (meanwhile == 1 || meanwhile == 3)
            theApp.editorWindow->viewport()->repaint();
        else if (meanwhile == 2)
            QApplication::processEvents();
        else if (meanwhile == 4)
            ExpectStyledAsFromScratch("after step " + std::to_string(step));
    }
}

// Edits after which a line end keeps its style and its line's state while
// the lexer leaves it in another state (an entity cut off by the line end
// against a tag name, the next line then text or the rest of the tag), that
// split what lexes one way into lines that lex another, or that make "<!"
// follow a '<' the lexer has styled already (which tripped an assertion in
// the lexer, aborting builds that keep assertions).
TEST_F(CatchUpTest, EditsThatLeaveALineEndLookingTheSame) {
    const struct {
        const char* text;
        long position, removed;
        const char* inserted;
    } edits[] = {
        {"<!-- c --><x\ny>z <b>w</b>\n", 10, 1, "&"},
        {"<!-- c -->&x\ny>z <b>w</b>\n", 10, 1, "<"},
        {"<script>\nvar r = /ab+c/g; f(r);\n</script>\n", 17, 0, "\n"},
        {"<a href=\"x\ny\">b</a>\n<b>c</b>\n", 9, 1, ""},
        {"a\r\n<b>c</b>\n", 2, 0, "<i"},
        {"p &<!-- c -->\n<script><%\"\"%><!--\n</script>\n", 2, 0, "&"},
    };
    for (const auto& edit : edits) {
        theApp.SendEditor(SCI_CLEARALL);
        AddText(edit.text);
        for (int i = 0; i < 40; ++i)
            AddText("<p>" + std::to_string(i) + "</p>\n");
        ASSERT_TRUE(IdleUntilAllStyled());
        theApp.SendEditor(SCI_DELETERANGE, static_cast<unsigned long>(edit.position), edit.removed);
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(edit.position));
        AddText(edit.inserted);
        theApp.editorWindow->viewport()->repaint();
        ExpectStyledAsFromScratch(edit.text);
    }
}

} // namespace
