// The system's own files, which report no true size and may never end or
// never answer, are read with bounds instead of hanging the program.
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileIcons.h"
#include "tests/TestSupport.h"

namespace {

class SystemFileTest : public EditorTest {
  protected:
    // Loads path and returns how long that took.
    std::chrono::steady_clock::duration Load(const std::string& path) {
        const auto start = std::chrono::steady_clock::now();
        theApp.LoadFile(path);
        return std::chrono::steady_clock::now() - start;
    }

    void ExpectRefused(const std::string& path, const std::string& reason) {
        EXPECT_EQ(LastMessage().rfind("Could not read file \"" + path + "\".\n\n" + reason, 0), 0u)
            << LastMessage();
        EXPECT_EQ(EditorText(), "");
        EXPECT_TRUE(theApp.filePath.empty());
        EXPECT_FALSE(theApp.modified);
    }
};

TEST_F(SystemFileTest, SmallSystemFilesLoadAsTheyReadNow) {
    // /proc reports a size of 0, /sys a page, whatever the file holds; neither
    // means that the file changed while it was read.
    theApp.LoadFile("/proc/self/status");
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(EditorText().rfind("Name:", 0), 0u) << EditorText();
    EXPECT_EQ(theApp.filePath, "/proc/self/status");

    const std::string sysFile = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st;
    if (::stat(sysFile.c_str(), &st) != 0)
        GTEST_SKIP() << "no " << sysFile;
    theApp.LoadFile(sysFile);
    EXPECT_TRUE(desktop.messages.empty()) << LastMessage();
    EXPECT_EQ(EditorText(), ReadBytes(sysFile));
    EXPECT_LT(int64_t(EditorText().size()), int64_t(st.st_size));
}

TEST_F(SystemFileTest, AnEndlessSystemFileIsRefusedAfterABoundedRead) {
    // Eight bytes for every page of the address space: far more than anyone
    // can hold.
    AddText("current text");
    EXPECT_LT(Load("/proc/self/pagemap"), std::chrono::seconds(10));
    ExpectRefused("/proc/self/pagemap",
                  "It is a special file of the system that goes on past 16 MiB");
}

TEST_F(SystemFileTest, ASystemFileThatWouldWaitIsRefusedAtOnce) {
    // The trace pipe waits for trace data, which nothing produces here.
    const std::string pipe = "/sys/kernel/tracing/trace_pipe";
    if (::geteuid() != 0 || ::access(pipe.c_str(), R_OK) != 0)
        GTEST_SKIP() << "needs root and " << pipe;
    AddText("current text");
    EXPECT_LT(Load(pipe), std::chrono::seconds(10));
    ExpectRefused(pipe, "It is a special file of the system");
}

// Browsing /proc must not open its files, so the dialogs judge files by name.
TEST(FileDialogs, TellAFileTypeByItsNameWithoutReadingIt) {
    TempDir dir;
    const std::string pdfBytes = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n";
    WriteBytes(dir.Path("report"), pdfBytes);
    WriteBytes(dir.Path("page.html"), pdfBytes);
    const QFileInfo unnamed(QString::fromStdString(dir.Path("report")));
    const QFileInfo named(QString::fromStdString(dir.Path("page.html")));
    const QString pdf = QFileIconProvider().type(unnamed);
    if (!pdf.contains("PDF"))
        GTEST_SKIP() << "this system cannot tell a PDF file by its contents";

    platform::NameOnlyIconProvider provider;
    EXPECT_FALSE(provider.type(unnamed).contains("PDF")) << "the contents were read";
    EXPECT_TRUE(provider.type(named).contains("HTML")) << provider.type(named).toStdString();
    EXPECT_FALSE(provider.icon(unnamed).isNull());
    EXPECT_EQ(provider.type(QFileInfo(QString::fromStdString(dir.Root()))),
              QFileIconProvider().type(QFileInfo(QString::fromStdString(dir.Root()))));
}

TEST(FileDialogs, OpenAndSaveBothUseTheNameOnlyProvider) {
    for (bool save : {false, true}) {
        SCOPED_TRACE(save ? "save" : "open");
        bool sawProvider = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                sawProvider = dynamic_cast<const platform::NameOnlyIconProvider*>(
                                  dialog->iconProvider()) != nullptr;
                dialog->reject();
            }
        });
        poll.start(10);
        platform::QtDesktop desktop;
        platform::FileDialogRequest request;
        request.title = "Open File";
        std::string path;
        EXPECT_FALSE(save ? desktop.GetSaveFileName(nullptr, request, path)
                          : desktop.GetOpenFileName(nullptr, request, path));
        EXPECT_TRUE(sawProvider);
    }
}

} // namespace
