// The text beyond the window is styled while the program idles, so that a
// jump far into a big document finds it coloured: no key press, scroll or
// paint of the far end is needed for the styling to reach the end.
#include <QApplication>
#include <QElapsedTimer>

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

    // An unclosed comment at the start turns the rest of the page into
    // comment, once styling gets there.
    theApp.SendEditor(SCI_GOTOPOS, 0);
    AddText("<!-- ");
    page.insert(0, "<!-- ");
    theApp.editorWindow->viewport()->repaint();
    ASSERT_LT(EndStyled(), Length() / 2);

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

} // namespace
