// What Varne's copy of the editing component does differently from the one it
// came from (qscintilla/patches), through the real widget.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include "editor/EditorWindow.h"
#include "tests/TestSupport.h"

namespace {

class ComponentTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        QObject::connect(theApp.editorWindow, &QsciScintillaBase::SCN_PAINTED,
                         [this] { ++paints; });
        // A blinking caret would repaint now and then whatever happens.
        theApp.SendEditor(SCI_SETCARETPERIOD, 0);
    }

    // Many screens of markup whose lines leave the lexer in different states,
    // as script blocks do.
    void OpenLongPage() {
        std::string bytes;
        for (int i = 0; bytes.size() < (1u << 20); ++i)
            bytes += "<p class=\"c" + std::to_string(i) +
                     "\">words</p>\n<script>\nvar a = 1;\n</script>\n";
        const std::string path = dir.Path("long.html");
        WriteBytes(path, bytes);
        theApp.LoadFile(path);
        theApp.editorWindow->viewport()->repaint();
    }

    // Runs the event loop, as while nobody touches anything, until all the
    // text is styled or the time is up.
    bool IdleUntilAllStyled() {
        QElapsedTimer clock;
        clock.start();
        auto allStyled = [] {
            return theApp.SendEditor(SCI_GETENDSTYLED) >= theApp.SendEditor(SCI_GETLENGTH);
        };
        while (!allStyled() && clock.elapsed() < 30000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        return allStyled();
    }

    int paints = 0;
};

TEST_F(ComponentTest, StylingBelowTheWindowDoesNotRepaintIt) {
    OpenLongPage();
    QApplication::processEvents();
    paints = 0;

    ASSERT_TRUE(IdleUntilAllStyled());
    EXPECT_EQ(paints, 0) << "styling text the window does not show repainted it";

    // What the window shows still repaints it.
    AddText("<b>");
    QApplication::processEvents();
    EXPECT_GE(paints, 1);
}

// QScintilla's own accessible interface told screen readers of each change
// the component reported after the fact, counting the characters from the
// start of the document to say where, even for a widget it does not stand
// for. Varne's interface alone tells them now, once per change, whatever the
// component reports.
TEST_F(ComponentTest, ScreenReadersHearOfEachChangeOnce) {
    ActiveAccessibility reader;
    theApp.SendEditor(SCI_SETMODEVENTMASK, theApp.editorWindow->ModificationEventMask() |
                                               SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT);
    TypeText("ab");
    QTest::keyClick(theApp.editorWindow, Qt::Key_Backspace);
    QApplication::processEvents();

    const std::vector<AccessibilityRecord> heard =
        reader.Events({QAccessible::TextInserted, QAccessible::TextRemoved});
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].inserted, "a");
    EXPECT_EQ(heard[1].inserted, "b");
    EXPECT_EQ(heard[2].removed, "b");
    EXPECT_EQ(heard[2].position, 1);
}

} // namespace
