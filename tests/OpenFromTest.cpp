// Files from outside the dialogs: the command line (read by the real binary
// where no display is needed, and opened through the real program objects)
// and files dropped on the window, against text dropped there.
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/CommandLine.h"
#include "editor/EditorWindow.h"
#include "platform/FrameWindow.h"
#include "tests/TestSupport.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// The real binary, with neither a display nor Qt's platform named.
Outcome RunVarne(const TempDir& dir, const std::string& arguments) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" VARNE_BINARY "' " + arguments +
        " >'" + dir.Path("out") + "' 2>'" + dir.Path("err") + "'";
    const int result = std::system(command.c_str());
    return {WIFEXITED(result) ? WEXITSTATUS(result) : -1, ReadBytes(dir.Path("out")),
            ReadBytes(dir.Path("err"))};
}

TEST(CommandLineTest, HelpAndVersionNeedNoDisplayAndAnUnknownOptionIsAnError) {
    TempDir dir;
    Outcome run = RunVarne(dir, "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "varne " VARNE_VERSION "\n");
    EXPECT_EQ(run.err, "");

    run = RunVarne(dir, "--frobnicate page.html");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("varne: Unknown option 'frobnicate'.\nUsage: varne [options]", 0), 0u)
        << run.err;

    // Without a display, a file is no reason to start: it says so.
    run = RunVarne(dir, "page.html");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no display found"), std::string::npos);
}

TEST(CommandLineTest, FileNamesAreTheBytesGiven) {
    const char* argv[] = {"varne", "a.html", "-", "--", "-b.html", "\xe9t\xe9.html", nullptr};
    const CommandLine line = ReadCommandLine(6, const_cast<char**>(argv));
    EXPECT_FALSE(line.done);
    EXPECT_EQ(line.files, std::vector<std::string>({"a.html", "-", "-b.html", "\xe9t\xe9.html"}));
}

class OpenFromTest : public EditorTest {
  protected:
    EditorWindow* Editor() { return theApp.editorWindow; }

    // A drop of URLs on the editor, as a file manager makes it; returns
    // whether it was taken, and as what.
    Qt::DropAction DropUrls(const QList<QUrl>& urls) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        data->setText("not these words");
        return Drop(*data);
    }

    Qt::DropAction Drop(const QMimeData& mime) {
        const QMimeData* data = &mime;
        const QPointF point(10, 10);
        QDragEnterEvent enter(point.toPoint(), Qt::CopyAction | Qt::MoveAction, data,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Editor()->viewport(), &enter);
        QDropEvent drop(point, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                        Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(Editor()->viewport(), &drop);
        QApplication::processEvents(); // the open waits until the drop is over
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    }

    static QUrl FileUrl(const std::string& path) {
        return QUrl::fromEncoded(
            "file://" + QByteArray(path.data(), qsizetype(path.size())).toPercentEncoding("/"));
    }
};

// A relative path is made absolute; a file that is not there yet is an empty
// document with that name, which the first Save creates; a name that is not
// UTF-8 opens like any other; what the Open dialog refuses is refused.
TEST_F(OpenFromTest, TheCommandLineFileOpensAsFromTheDialog) {
    const std::string name = "\xe9t\xe9.html";
    WriteBytes(dir.Path(name), std::string("<p>\0\xff</p>\r\n", 11));
    char previous[4096];
    ASSERT_TRUE(::getcwd(previous, sizeof previous));
    ASSERT_EQ(::chdir(dir.Root().c_str()), 0);
    theApp.OpenFromCommandLine("./" + name);
    const std::string absolute = AbsolutePath(name);
    EXPECT_EQ(::chdir(previous), 0);
    EXPECT_EQ(absolute, dir.Path(name));
    EXPECT_EQ(theApp.filePath, dir.Path(name));
    EXPECT_EQ(EditorText(), std::string("<p>\0\xff</p>\r\n", 11));
    EXPECT_FALSE(theApp.modified);

    const std::string fresh = dir.Path("new.html");
    theApp.OpenFromCommandLine(fresh);
    EXPECT_EQ(Caption(), "Varne - " + fresh);
    EXPECT_EQ(EditorText(), "");
    EXPECT_FALSE(Exists(fresh));
    TypeText("<b>");
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(fresh), "<b>");
    EXPECT_TRUE(desktop.messages.empty());

    // A file another program makes there meanwhile is not written over unasked.
    const std::string appeared = dir.Path("appeared.html");
    theApp.OpenFromCommandLine(appeared);
    WriteBytes(appeared, "theirs");
    TypeText("mine");
    desktop.answers = {platform::IDNO};
    Command(IDM_SAVE);
    EXPECT_EQ(ReadBytes(appeared), "theirs");
    EXPECT_TRUE(theApp.modified);
    desktop.messages.clear();

    // A folder that is not there is found out at Save, not at the start.
    const std::string nowhere = dir.Path("missing/page.html");
    theApp.OpenFromCommandLine(nowhere);
    EXPECT_EQ(theApp.filePath, nowhere);
    EXPECT_TRUE(desktop.messages.empty());
    TypeText("x");
    Command(IDM_SAVE);
    EXPECT_EQ(LastMessage().rfind("Could not save file \"" + nowhere + "\".", 0), 0u);

    theApp.SendEditor(SCI_SETSAVEPOINT);
    theApp.OpenFromCommandLine(dir.Root());
    EXPECT_EQ(LastMessage().rfind("Could not open file \"" + dir.Root() + "\".", 0), 0u);
}

// Dropped files open, the first of them, after the save question; they are
// copied, never moved. Dropped text still goes in, byte for byte.
TEST_F(OpenFromTest, DroppedFilesOpenAfterTheSaveQuestion) {
    const std::string first = dir.Path("\xe9 first.html"), second = dir.Path("second.html");
    WriteBytes(first, "<p>first</p>\r\n");
    WriteBytes(second, "<p>second</p>\n");

    EXPECT_EQ(DropUrls({FileUrl(first), FileUrl(second)}), Qt::CopyAction);
    EXPECT_EQ(theApp.filePath, first);
    EXPECT_EQ(EditorText(), "<p>first</p>\r\n");

    TypeText("x");
    desktop.answers = {platform::IDCANCEL};
    EXPECT_EQ(DropUrls({FileUrl(second)}), Qt::CopyAction);
    EXPECT_EQ(theApp.filePath, first);
    EXPECT_EQ(desktop.messages.back().text, "Save changes to \"" + first + "\"?");
    desktop.answers = {platform::IDNO};
    DropUrls({FileUrl(second)});
    EXPECT_EQ(theApp.filePath, second);
    EXPECT_EQ(EditorText(), "<p>second</p>\n");
    EXPECT_EQ(ReadBytes(first), "<p>first</p>\r\n");

    // Another place than a file opens nothing; text goes in, byte for byte.
    DropUrls({QUrl("https://www.debian.org/index.html")});
    EXPECT_EQ(theApp.filePath, second);
    theApp.SendEditor(SCI_GOTOPOS, 0);
    QMimeData text;
    text.setText("<i>\r</i>\n");
    EXPECT_NE(Drop(text), Qt::IgnoreAction);
    EXPECT_EQ(theApp.filePath, second);
    EXPECT_EQ(EditorText().find("<i>\r</i>\n"), 0u) << EditorText();
}

} // namespace
