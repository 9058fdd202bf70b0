#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <set>

#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

class StartUpTest : public EditorTest {
  protected:
    platform::FrameWindow* Frame() { return theApp.frameWindow; }
    EditorWindow* Editor() { return theApp.editorWindow; }

    void ActivateFrame() {
        Frame()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
        Editor()->setFocus();
    }

    // The area below the menu bar, in the frame's coordinates.
    QRect ClientArea() { return Frame()->centralWidget()->geometry(); }
};

TEST_F(StartUpTest, ShowsAMaximisedUntitledFrameFilledByTheFocusedEditor) {
    EXPECT_EQ(Caption(), "Varne - ");
    EXPECT_TRUE(Frame()->isMaximized());
    EXPECT_EQ(Frame()->centralWidget(), Editor());
    EXPECT_TRUE(Editor()->isVisible());
    EXPECT_EQ(Frame()->focusWidget(), Editor());
    const QRect client = Frame()->rect().adjusted(0, Frame()->menuBar()->height(), 0, 0);
    EXPECT_EQ(Editor()->geometry(), client);
    EXPECT_FALSE(theApp.modified);
    EXPECT_TRUE(theApp.filePath.empty());
}

TEST_F(StartUpTest, TellsTheDesktopWhoItIs) {
    EXPECT_EQ(QGuiApplication::desktopFileName(), "varne");
    EXPECT_EQ(QCoreApplication::applicationName(), "varne");
    EXPECT_EQ(QCoreApplication::applicationVersion(), VARNE_VERSION);

    // The installed desktop entry and metainfo carry the same names, which
    // is how the desktop pairs the window with them.
    const std::string resources = VARNE_SOURCE_DIR "/resources/";
    const std::string desktopId = QGuiApplication::desktopFileName().toStdString() + ".desktop";
    const std::string entry = ReadBytes(resources + desktopId);
    ASSERT_FALSE(entry.empty()) << desktopId;
    EXPECT_NE(
        entry.find("\nStartupWMClass=" + QCoreApplication::applicationName().toStdString() + "\n"),
        std::string::npos);
    const std::string metainfo = ReadBytes(resources + "org.varne.Varne.metainfo.xml");
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">" + desktopId + "</launchable>"),
              std::string::npos);
    EXPECT_NE(metainfo.find("<release version=\"" VARNE_VERSION "\""), std::string::npos);
}

TEST_F(StartUpTest, EditorFollowsTheFrameSizeButNotMinimising) {
    Frame()->showNormal();
    Frame()->resize(640, 480);
    QApplication::processEvents();
    EXPECT_EQ(Editor()->width(), Frame()->width());
    EXPECT_EQ(Editor()->height(), Frame()->height() - Frame()->menuBar()->height());

    const QSize before = Editor()->size();
    Frame()->showMinimized();
    QApplication::processEvents();
    EXPECT_EQ(Editor()->size(), before);

    Frame()->showNormal();
    Frame()->resize(700, 500);
    QApplication::processEvents();
    EXPECT_EQ(Editor()->size(), QSize(700, 500 - Frame()->menuBar()->height()));
}

TEST_F(StartUpTest, MenuBarHasTheFixedItemsAllEnabledButTheFollowedOnes) {
    const QList<QAction*> bar = Frame()->menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[1]->text(), "&Edit");

    // Save, Undo, Redo and Paste follow the document and the clipboard.
    const std::set<QAction*> followed = {
        Frame()->MenuAction(IDM_SAVE), Frame()->MenuAction(IDM_UNDO), Frame()->MenuAction(IDM_REDO),
        Frame()->MenuAction(IDM_PASTE)};
    // What the menu draws: the text, and after a tab the shortcut, in its own
    // column, whether the label held it or the action does.
    auto shown = [](QAction* action) {
        QString text = action->text();
        if (!text.contains(u'\t') && !action->shortcut().isEmpty())
            text += u'\t' + action->shortcut().toString(QKeySequence::NativeText);
        return text;
    };
    auto labels = [&](QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QString("-") : shown(action));
            const bool enabled = action->isEnabled() || followed.count(action);
            EXPECT_TRUE(enabled) << action->text().toStdString();
        }
        return texts;
    };
    EXPECT_EQ(labels(bar[0]->menu()), QStringList({"&New\tCtrl+N", "&Open...\tCtrl+O",
                                                   "&Save\tCtrl+S", "Save &As...", "E&xit"}));
    EXPECT_EQ(labels(bar[1]->menu()),
              QStringList({"&Undo\tCtrl+Z", "&Redo\tCtrl+Y", "-", "Cu&t\tCtrl+X", "&Copy\tCtrl+C",
                           "&Paste\tCtrl+V", "&Delete\tDel", "Select A&ll\tCtrl+A"}));
    EXPECT_EQ(bar[2]->text(), "&Search");
    EXPECT_EQ(labels(bar[2]->menu()),
              QStringList({"&Find...\tCtrl+F", "Find &Next\tF3", "Find &Previous\tShift+F3",
                           "&Replace...\tCtrl+H", "&Go to Line...\tCtrl+G"}));

    const std::pair<unsigned short, const char*> shortcuts[] = {
        {IDM_NEW, "Ctrl+N"},   {IDM_OPEN, "Ctrl+O"}, {IDM_SAVE, "Ctrl+S"},
        {IDM_SAVEAS, ""},      {IDM_EXIT, ""},       {IDM_CUT, "Ctrl+X"},
        {IDM_COPY, "Ctrl+C"},  {IDM_UNDO, "Ctrl+Z"}, {IDM_REDO, "Ctrl+Y"},
        {IDM_PASTE, "Ctrl+V"}, {IDM_DELETE, "Del"},  {IDM_SELECTALL, "Ctrl+A"},
    };
    for (const auto& [id, key] : shortcuts) {
        QAction* action = Frame()->MenuAction(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->shortcut(), QKeySequence(key)) << id;
        EXPECT_EQ(action->shortcutContext(), Qt::WindowShortcut);
    }
}

TEST_F(StartUpTest, ShortcutsPressedInTheEditorReachTheFrame) {
    ActivateFrame();
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "<p>");
    theApp.LoadFile(path);
    TypeText("x");
    ASSERT_TRUE(theApp.modified);

    QSignalSpy saves(Frame()->MenuAction(IDM_SAVE), &QAction::triggered);
    // With the control character X11 gives the key as its text.
    QTest::sendKeyEvent(QTest::Click, Editor(), Qt::Key_S, QString("\x13"),
                        Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(saves.count(), 0);
    EXPECT_TRUE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "<p>");

    QTest::keyClick(Editor(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(saves.count(), 1);
    EXPECT_FALSE(theApp.modified);
    EXPECT_EQ(ReadBytes(path), "x<p>");
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
}

TEST_F(StartUpTest, DeleteKeyBecomesTheDeleteCommand) {
    ActivateFrame();
    TypeText("abcd");
    theApp.SendEditor(SCI_GOTOPOS, 1);
    QSignalSpy deletes(Frame()->MenuAction(IDM_DELETE), &QAction::triggered);
    QTest::keyClick(Editor(), Qt::Key_Delete);
    EXPECT_EQ(deletes.count(), 1);
    EXPECT_EQ(EditorText(), "acd");
}

TEST_F(StartUpTest, ShortcutOfAGreyedItemIsSwallowed) {
    ActivateFrame();
    QApplication::clipboard()->setText("pasted");
    TypeText("a");
    theApp.SetMenuItemEnabled(IDM_PASTE, false);
    theApp.SetMenuItemEnabled(IDM_UNDO, false);
    QTest::keyClick(Editor(), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(Editor(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), "a");

    theApp.UpdateMenus();
    ASSERT_TRUE(MenuEnabled(IDM_PASTE));
    QTest::keyClick(Editor(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(EditorText(), "apasted");
}

TEST_F(StartUpTest, ComingToTheFrontRefreshesTheMenus) {
    QApplication::clipboard()->clear();
    // States that went stale while another window was in front.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    for (unsigned short id : {IDM_SAVE, IDM_UNDO, IDM_REDO, IDM_PASTE})
        theApp.SetMenuItemEnabled(id, true);

    ActivateFrame();
    for (unsigned short id : {IDM_SAVE, IDM_UNDO, IDM_REDO, IDM_PASTE})
        EXPECT_FALSE(MenuEnabled(id)) << id;
}

TEST_F(StartUpTest, EveryCommandEvenAnUnknownOneRefreshesTheMenus) {
    theApp.SetMenuItemEnabled(IDM_SAVE, true);
    theApp.SetMenuItemEnabled(IDM_UNDO, true);
    Frame()->SendCommand(12345);
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
    EXPECT_FALSE(MenuEnabled(IDM_UNDO));
    EXPECT_TRUE(MenuEnabled(IDM_NEW));
}

TEST_F(StartUpTest, OpeningAMenuRefreshesTheMenus) {
    theApp.SetMenuItemEnabled(IDM_SAVE, true);
    QMenu* file = Frame()->menuBar()->actions()[0]->menu();
    emit file->aboutToShow();
    EXPECT_FALSE(MenuEnabled(IDM_SAVE));
}

TEST_F(StartUpTest, ClosingACleanDocumentQuitsWithStatusZero) {
    EXPECT_TRUE(Frame()->close());
    EXPECT_EQ(desktop.quits, std::vector<int>{0});
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(theApp.editorWindow, nullptr);
    // Messages to the editor after it went do nothing and answer 0.
    EXPECT_EQ(theApp.SendEditor(SCI_GETLENGTH), 0);
    theApp.UpdateMenus();
    theApp.ExecuteCommand(IDM_SELECTALL);
    QApplication::processEvents();
}

// Between the close and the end of the event loop a logout request or a
// command can still come in: the text was given up, so nothing is asked, and
// the document that is gone is never saved as an empty one.
TEST_F(StartUpTest, AfterClosingWithoutSavingNothingIsAskedOrWritten) {
    const std::string path = dir.Path("page.html");
    WriteBytes(path, "saved text");
    theApp.LoadFile(path);
    TypeText("unsaved ");
    desktop.answers = {platform::IDNO};
    EXPECT_TRUE(Frame()->close());
    ASSERT_EQ(theApp.editorWindow, nullptr);

    EXPECT_TRUE(theApp.LogoutRequested());
    theApp.ExecuteCommand(IDM_SAVE);
    theApp.ExecuteCommand(IDM_EXIT);
    EXPECT_EQ(ReadBytes(path), "saved text");
    EXPECT_EQ(desktop.messages.size(), 1u) << LastMessage();
}

TEST_F(StartUpTest, CancellingTheQuestionOnCloseKeepsEverything) {
    TypeText("unsaved");
    desktop.answers = {platform::IDCANCEL};
    EXPECT_FALSE(Frame()->close());
    EXPECT_TRUE(desktop.quits.empty());
    EXPECT_TRUE(Frame()->isVisible());
    ASSERT_NE(theApp.editorWindow, nullptr);
    EXPECT_EQ(EditorText(), "unsaved");
    EXPECT_TRUE(theApp.modified);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, "Save changes to \"\"?");
}

TEST_F(StartUpTest, ExitAsksOnlyWhenModified) {
    Command(IDM_EXIT);
    EXPECT_EQ(desktop.quits, std::vector<int>{0});
    EXPECT_TRUE(desktop.messages.empty());

    TypeText("a");
    desktop.answers = {platform::IDCANCEL};
    Command(IDM_EXIT);
    EXPECT_EQ(desktop.quits.size(), 1u);
    desktop.answers = {platform::IDNO};
    Command(IDM_EXIT);
    EXPECT_EQ(desktop.quits.size(), 2u);
    EXPECT_NE(theApp.editorWindow, nullptr); // Exit destroys no window
}

} // namespace
