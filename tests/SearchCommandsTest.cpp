// The Search menu and its windows on the real editor: byte-exact finding and
// replacing, Replace All's single undo step, cancel and size limit, Go to
// Line, and what the person at the desk, or a screen reader, is told.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "platform/SearchWindows.h"
#include "tests/TestSupport.h"

namespace {

using platform::SearchAction;
using namespace std::string_literals;

class SearchCommandsTest : public EditorTest {
  protected:
    EditorWindow* Editor() { return theApp.editorWindow; }
    platform::FindWindow* FindWindow() { return theApp.findWindow; }

    // A document as if just opened: no undo history, at its save point.
    void Open(const std::string& bytes) {
        theApp.SendEditor(SCI_CLEARALL);
        AddText(bytes);
        theApp.SendEditor(SCI_EMPTYUNDOBUFFER);
        theApp.SendEditor(SCI_SETSAVEPOINT);
        theApp.SendEditor(SCI_GOTOPOS, 0);
    }

    std::pair<Position, Position> Selection() {
        return {theApp.SendEditor(SCI_GETSELECTIONSTART), theApp.SendEditor(SCI_GETSELECTIONEND)};
    }

    void Request(SearchAction action, const std::string& what, const std::string& with = "",
                 bool expression = false) {
        platform::SearchRequest request;
        request.action = action;
        request.what = what;
        request.with = with;
        request.regularExpression = expression;
        theApp.HandleSearchRequest(request);
    }

    std::string Status() { return FindWindow() ? FindWindow()->Status().toStdString() : ""; }

    template <typename Widget> Widget* Child(QWidget* window, const QString& text) {
        for (Widget* widget : window->findChildren<Widget*>())
            if (widget->text() == text)
                return widget;
        return nullptr;
    }
};

// Find Next with nothing to find opens the Find window; the field starts with
// a selection on one line; Replace is the same window with its replace row.
TEST_F(SearchCommandsTest, TheFindWindowIsLabelledAndStartsWithTheSelection) {
    Open("<p>one line</p>\nnext\n");
    Command(IDM_FINDNEXT);
    ASSERT_TRUE(FindWindow());
    EXPECT_TRUE(FindWindow()->isVisible());
    EXPECT_FALSE(FindWindow()->isModal());
    EXPECT_EQ(FindWindow()->windowTitle(), "Find");
    EXPECT_EQ(Selection(), std::make_pair(Position(0), Position(0)));

    for (const char* label : {"Fi&nd what:", "Re&place with:"})
        EXPECT_TRUE(Child<QLabel>(FindWindow(), label)) << label;
    for (const char* option :
         {"Match &case", "Match &whole word only", "Regular e&xpression", "Wra&p around"})
        EXPECT_EQ(Child<QCheckBox>(FindWindow(), option)->isChecked(), option[1] == 'r') << option;
    for (const char* button : {"&Find Next", "Find &Previous", "&Replace", "Replace &All", "Close"})
        EXPECT_TRUE(Child<QPushButton>(FindWindow(), button)) << button;
    EXPECT_TRUE(Child<QPushButton>(FindWindow(), "&Find Next")->isDefault());
    EXPECT_FALSE(Child<QPushButton>(FindWindow(), "&Replace")->isVisible());
    const auto fields = FindWindow()->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(fields[0]->accessibleName(), "Find what");
    EXPECT_EQ(fields[1]->accessibleName(), "Replace with");

    theApp.SendEditor(SCI_SETSEL, 3, 11);
    Command(IDM_REPLACE);
    EXPECT_EQ(FindWindow()->windowTitle(), "Replace");
    EXPECT_TRUE(Child<QPushButton>(FindWindow(), "&Replace")->isVisible());
    EXPECT_EQ(fields[0]->text(), "one line");
    // Over two lines, the selection is no thing to find: the field keeps its text.
    theApp.SendEditor(SCI_SETSEL, 3, 18);
    Command(IDM_FIND);
    EXPECT_EQ(fields[0]->text(), "one line");
}

// Every byte value and every line end: finding moves through the matches
// and wraps, Replace All changes the matched bytes only, in one undo step
// that gives every byte back, and the caret keeps its place.
TEST_F(SearchCommandsTest, ReplacesExactlyTheMatchedBytesAndUndoGivesEveryByteBack) {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    const std::string word = "t\xc3\xa9st";
    const std::string original =
        bytes + word + "\r\n" + bytes + "T\xc3\x89ST\r" + bytes + "\n" + word + "\xe9";
    Open(original);
    Command(IDM_FIND);

    const Position first = 256, second = 256 + 5 + 2 + 256, third = second + 5 + 1 + 256 + 1;
    Request(SearchAction::findNext, word);
    EXPECT_EQ(Selection(), std::make_pair(first, first + 5));
    Request(SearchAction::findNext, word);
    EXPECT_EQ(Selection(), std::make_pair(second, second + 5));
    Request(SearchAction::findNext, word);
    EXPECT_EQ(Selection(), std::make_pair(third, third + 5));
    Request(SearchAction::findNext, word);
    EXPECT_EQ(Selection(), std::make_pair(first, first + 5));
    EXPECT_EQ(Status(), "Passed the end of the document and went on from the start.");
    Request(SearchAction::findPrevious, word);
    EXPECT_EQ(Selection(), std::make_pair(third, third + 5));

    // The caret after the second match moves with the text before it.
    theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(second + 5 + 1));
    const std::string with = "\r\n\0x"s;
    Request(SearchAction::replaceAll, word, with);
    EXPECT_EQ(Status(), "Replaced 3 occurrences.");
    const std::string replaced =
        bytes + with + "\r\n" + bytes + with + "\r" + bytes + "\n" + with + "\xe9";
    EXPECT_EQ(EditorText(), replaced);
    const Position caret = second + 5 + 1 + 2 * (Position(with.size()) - 5);
    EXPECT_EQ(Selection(), std::make_pair(caret, caret));
    EXPECT_TRUE(theApp.modified);

    Command(IDM_UNDO);
    EXPECT_EQ(EditorText(), original);
    EXPECT_FALSE(theApp.modified);
    EXPECT_FALSE(MenuEnabled(IDM_UNDO)) << "more than one undo step";
    Command(IDM_REDO);
    EXPECT_EQ(EditorText(), replaced);

    // Replace changes the selection only when it is a match, then finds the
    // next; an expression's groups fill in.
    Open("a=1\r\nb=2");
    Request(SearchAction::replace, "(\\w)=(\\d)", "$2=$1", true);
    EXPECT_EQ(Selection(), std::make_pair(Position(0), Position(3)));
    Request(SearchAction::replace, "(\\w)=(\\d)", "$2=$1", true);
    EXPECT_EQ(EditorText(), "1=a\r\nb=2");
    EXPECT_EQ(Selection(), std::make_pair(Position(5), Position(8)));
}

// Misses and mistakes are said in the window, never in a message box, and a
// screen reader hears them; a match found is announced as the editor's
// selection.
TEST_F(SearchCommandsTest, WhatHappenedIsSaidInTheWindowAndHeard) {
    Open("alpha beta\n");
    ActiveAccessibility reader;
    Command(IDM_FIND);
    reader.Clear();
    Request(SearchAction::findNext, "gamma");
    EXPECT_EQ(Status(), "\"gamma\" was not found.");
    Request(SearchAction::findNext, "gamma");
    Request(SearchAction::findNext, "(beta", "", true);
    EXPECT_EQ(Status(), "The regular expression is not valid: missing closing parenthesis "
                        "(at character 6).");
    Request(SearchAction::replaceAll, "gamma", "delta");
    EXPECT_EQ(Status(), "\"gamma\" was not found; nothing was replaced.");
    EXPECT_TRUE(desktop.messages.empty());

    int heard = 0;
    for (const AccessibilityRecord& event : reader.Events({QAccessible::NameChanged})) {
        auto* label = qobject_cast<QLabel*>(event.object);
        if (label && label->window() == FindWindow())
            ++heard;
    }
    EXPECT_EQ(heard, 4) << "each status, the repeated miss too";

    reader.Clear();
    Request(SearchAction::findNext, "beta");
    QApplication::processEvents();
    const auto selections = reader.Events({QAccessible::TextSelectionChanged});
    ASSERT_FALSE(selections.empty());
    EXPECT_EQ(selections.back().object, Editor());
    EXPECT_EQ(selections.back().selectionStart, 6);
    EXPECT_EQ(selections.back().selectionEnd, 10);
    EXPECT_EQ(Status(), "");
}

// Escape closes the window and gives the keyboard back to the text, where
// the match stays selected.
TEST_F(SearchCommandsTest, EscapeGivesTheFocusBackWithTheMatchSelected) {
    Open("one two three");
    Command(IDM_FIND);
    QLineEdit* what = FindWindow()->findChildren<QLineEdit*>().front();
    QTest::keyClicks(what, "two");
    QTest::keyClick(what, Qt::Key_Return);
    EXPECT_EQ(Selection(), std::make_pair(Position(4), Position(7)));
    QTest::keyClick(what, Qt::Key_Escape);
    EXPECT_FALSE(FindWindow()->isVisible());
    EXPECT_EQ(theApp.frameWindow->focusWidget(), Editor());
    EXPECT_EQ(Selection(), std::make_pair(Position(4), Position(7)));
    // F3 goes on with what the window held.
    Command(IDM_FINDNEXT);
    EXPECT_EQ(Selection(), std::make_pair(Position(4), Position(7)));
    EXPECT_FALSE(FindWindow()->isVisible());
}

// A result that would not fit in the document is refused before anything
// changes; one that just fits is made.
TEST_F(SearchCommandsTest, ReplaceAllRespectsTheDocumentSizeLimit) {
    Open("ab ab ab ab");
    Editor()->SetSizeLimit(15);
    Command(IDM_REPLACE);
    Request(SearchAction::replaceAll, "ab",
            "abc"
            "d");
    EXPECT_EQ(Status(), "Nothing was replaced: the document would grow past 15 bytes, the most "
                        "Varne can hold.");
    EXPECT_EQ(EditorText(), "ab ab ab ab");
    EXPECT_FALSE(MenuEnabled(IDM_UNDO));

    theApp.SendEditor(SCI_SETSEL, 0, 2);
    Request(SearchAction::replace, "ab", std::string(10, 'x'));
    EXPECT_EQ(EditorText(), "ab ab ab ab");
    EXPECT_NE(Status().find("Nothing was replaced"), std::string::npos);

    Request(SearchAction::replaceAll, "ab", "abc");
    EXPECT_EQ(EditorText(), "abc abc abc abc");
    EXPECT_TRUE(desktop.messages.empty());
}

// Cancelled half-way, Replace All takes back what it had done; its progress
// goes through the desktop's progress window, which may cancel it.
TEST_F(SearchCommandsTest, CancellingReplaceAllUndoesThePartDone) {
    std::string original;
    // Matches a KiB apart are replaced one by one, a step of the progress each.
    for (int i = 0; i < 2000; ++i)
        original += "<td>" + std::string(1100, ' ') + "</td>\n";
    Open(original);
    Command(IDM_REPLACE);
    bool changedMeanwhile = false;
    desktop.cancelAtStep = 1000;
    desktop.duringProgress = [&] {
        if (theApp.SendEditor(SCI_GETLENGTH) != Position(original.size()))
            changedMeanwhile = true;
    };
    Request(SearchAction::replaceAll, "td", "cell");
    ASSERT_FALSE(desktop.progress.empty());
    EXPECT_EQ(desktop.progress.back().text, "Replacing \"td\"");
    EXPECT_TRUE(desktop.progress.back().cancellable);
    EXPECT_TRUE(desktop.progress.back().closed);
    EXPECT_EQ(Status(), "Replace All was cancelled; nothing was replaced.");
    EXPECT_EQ(EditorText(), original);
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(changedMeanwhile) << "cancelled before any change";

    desktop.cancelAtStep = 0;
    Request(SearchAction::replaceAll, "<td>", "<th>");
    EXPECT_EQ(Status(), "Replaced 2000 occurrences.");
    EXPECT_EQ(EditorText().substr(0, 5), "<th> ");
}

// While a load, a save or another search holds the text, requests from the
// search windows are not acted on.
TEST_F(SearchCommandsTest, NothingStartsWhileTheTextIsHeld) {
    Open("abc abc");
    Command(IDM_REPLACE);
    {
        const TransferDoor::Hold held(theApp.door, Editor());
        Request(SearchAction::replaceAll, "abc", "x");
        Request(SearchAction::findNext, "abc");
    }
    EXPECT_EQ(EditorText(), "abc abc");
    EXPECT_EQ(Selection(), std::make_pair(Position(0), Position(0)));
}

TEST_F(SearchCommandsTest, GoToLineMovesToTheLineInTheMiddleOfTheView) {
    std::string text;
    for (int i = 1; i <= 1000; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    Open(text);
    Command(IDM_GOTOLINE);
    platform::GoToLineWindow* window = theApp.goToLineWindow;
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), "Go to Line");
    EXPECT_TRUE(Child<QLabel>(window, "Line number (1 - 1001):"));
    QLineEdit* number = window->findChild<QLineEdit*>();
    EXPECT_EQ(number->text(), "1");

    const std::pair<const char*, const char*> refused[] = {
        {"0", "Type a line number from 1 to 1001."},
        {"ten", "Type a line number from 1 to 1001."},
        {"1002", "There is no line 1002: type a number from 1 to 1001."},
    };
    for (const auto& [typed, said] : refused) {
        number->setText(typed);
        QTest::keyClick(number, Qt::Key_Return);
        EXPECT_EQ(window->Status().toStdString(), said);
        EXPECT_TRUE(window->isVisible());
    }
    number->setText("500");
    QTest::keyClick(number, Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(theApp.SendEditor(SCI_GETCURRENTPOS), theApp.SendEditor(SCI_POSITIONFROMLINE, 499));
    const Position shown = theApp.SendEditor(SCI_LINESONSCREEN);
    EXPECT_EQ(theApp.SendEditor(SCI_GETFIRSTVISIBLELINE), 499 - shown / 2);
    EXPECT_EQ(theApp.frameWindow->focusWidget(), Editor());
}

} // namespace
