// Measures how the editing component copes with very large documents, to
// choose the largest one Varne accepts: for each size, the CPU time of the
// open, of styling in the 30 s of idle time after it (and how far it got), of
// single keystrokes at the start, middle and end (with the paint that shows
// them), of Ctrl+End and of colouring the end in idle time after it, and of
// the save, whether the save wrote every byte, and the peak
// memory, with the window's own limit lifted; then, under the real limit, what
// becomes of a paste of 16 MiB and one of 128 MiB at the end. Each size runs
// in a child process so that peaks do not add up.
// Usage: varne-limit-bench FOLDER MEBIBYTES...
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/EditorApp.h"
#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"
#include "platform/Platform.h"

namespace {

// Answers every message box at once, as nobody watches the run.
class AnsweringDesktop : public platform::Desktop {
  public:
    int MessageBox(QWidget*, const std::string&, const std::string&,
                   platform::MessageBoxType) override {
        return platform::IDOK;
    }
    int Ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&,
            int defaultButton, int) override {
        return defaultButton;
    }
    bool GetOpenFileName(QWidget*, const platform::FileDialogRequest&, std::string&) override {
        return false;
    }
    bool GetSaveFileName(QWidget*, const platform::FileDialogRequest&, std::string&) override {
        return false;
    }
    void PostQuitMessage(int) override {}
    std::unique_ptr<platform::Progress> ShowProgress(QWidget*, const std::string&, int64_t,
                                                     bool) override {
        return std::make_unique<Unwatched>();
    }

  private:
    // Work nobody watches goes on to its end.
    class Unwatched : public platform::Progress {
      public:
        bool Advance(int64_t) override { return true; }
    };
};

double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakResidentMiB() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// HTML lines of ordinary length, repeated up to the size.
void WriteHtml(const std::string& path, int64_t bytes) {
    std::string chunk;
    for (int i = 0; chunk.size() < (1 << 20); ++i)
        chunk += "<p class=\"c" + std::to_string(i % 97) +
                 "\">Some text &amp; more text <a href=\"x.html\">link</a></p>\n";
    std::ofstream out(path, std::ios::binary);
    for (int64_t written = 0; written < bytes;) {
        const int64_t count = std::min<int64_t>(bytes - written, int64_t(chunk.size()));
        out.write(chunk.data(), std::streamsize(count));
        written += count;
    }
}

void Paint() {
    theApp.editorWindow->viewport()->repaint();
}

// CPU seconds for one key at position, with its paint; the median of three.
double KeystrokeAt(Position position) {
    std::vector<double> samples;
    for (int i = 0; i < 3; ++i) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position + i));
        Paint();
        const double start = CpuSeconds();
        QTest::keyClick(theApp.editorWindow, Qt::Key_X);
        Paint();
        samples.push_back(CpuSeconds() - start);
    }
    std::sort(samples.begin(), samples.end());
    return samples[1];
}

// Runs the event loop for some seconds, or until done says so (asked every
// 10 ms), as while nobody touches anything; returns the wall seconds.
template <typename Done> double Idle(double seconds, Done done) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done() || double(clock.elapsed()) >= seconds * 1000)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    return double(clock.elapsed()) / 1000;
}

int Measure(QApplication& application, const std::string& folder, int64_t mebibytes) {
    const std::string path = folder + "/varne-limit-" + std::to_string(::getpid()) + ".html";
    const std::string saved = path + ".saved";
    const int64_t bytes = mebibytes << 20;
    WriteHtml(path, bytes);

    AnsweringDesktop desktop;
    platform::SetDesktop(&desktop);
    theApp.StartUp(application);
    theApp.editorWindow->SetSizeLimit(INT32_MAX);
    QApplication::processEvents();
    double start = CpuSeconds();
    theApp.LoadFile(path);
    Paint();
    const double open = CpuSeconds() - start;
    const Position length = theApp.SendEditor(SCI_GETLENGTH);

    start = CpuSeconds();
    Idle(30, [] { return false; });
    const double idle = CpuSeconds() - start;
    const Position styled = theApp.SendEditor(SCI_GETENDSTYLED);

    const double atStart = KeystrokeAt(0);
    const double inMiddle = KeystrokeAt(length / 2);
    const double atEnd = KeystrokeAt(theApp.SendEditor(SCI_GETLENGTH) - 3);

    theApp.SendEditor(SCI_GOTOPOS, 0);
    Paint();
    start = CpuSeconds();
    QTest::keyClick(theApp.editorWindow, Qt::Key_End, Qt::ControlModifier);
    Paint();
    const double jump = CpuSeconds() - start;
    start = CpuSeconds();
    const double coloured = Idle(3600, [] {
        return theApp.SendEditor(SCI_GETENDSTYLED) >= theApp.SendEditor(SCI_GETLENGTH);
    });
    const double colouring = CpuSeconds() - start;

    theApp.filePath = saved;
    start = CpuSeconds();
    const bool ok = theApp.SaveToFile();
    const double save = CpuSeconds() - start;
    struct stat st {};
    ::stat(saved.c_str(), &st);
    const bool whole = ok && st.st_size == theApp.SendEditor(SCI_GETLENGTH);

    std::printf("%6lld MiB  loaded %-3s  open %6.2f s  idle 30 s: %5.2f s, styled %5lld MiB"
                "  key start/middle/end %7.3f %7.3f %7.3f s  Ctrl+End %6.3f s, coloured after"
                " %5.1f s (%5.1f s)  save %6.2f s %-6s  peak %6ld MiB",
                static_cast<long long>(mebibytes), length == bytes ? "yes" : "NO", open, idle,
                static_cast<long long>(styled >> 20), atStart, inMiddle, atEnd, jump, coloured,
                colouring, save, whole ? "whole" : "FAILED", PeakResidentMiB());

    theApp.editorWindow->SetSizeLimit(EditorWindow::defaultSizeLimit);
    for (int pasted : {16, 128}) {
        // Lines of ordinary length: one long line would measure line layout.
        QByteArray text(qsizetype(pasted) << 20, 'p');
        for (qsizetype i = 79; i < text.size(); i += 80)
            text[i] = '\n';
        QApplication::clipboard()->setMimeData(MimeDataForBytes(text, false));
        const Position before = theApp.SendEditor(SCI_GETLENGTH);
        // Shown first, so that the lexing up to the end is not timed.
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(before));
        Paint();
        start = CpuSeconds();
        theApp.ExecuteCommand(IDM_PASTE);
        QApplication::processEvents();
        Paint();
        const Position added = theApp.SendEditor(SCI_GETLENGTH) - before;
        std::printf("  paste %d MiB: %s %.2f s", pasted,
                    added == text.size() ? "added"
                    : added == 0         ? "refused"
                                         : "PARTLY ADDED",
                    CpuSeconds() - start);
    }
    std::printf("\n");
    std::fflush(stdout);
    std::remove(path.c_str());
    std::remove(saved.c_str());
    return whole ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: varne-limit-bench FOLDER MEBIBYTES...\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Recovery journals of the bench's own, beside its files, never the
    // user's: the keys it types would leave journals of files it removes.
    const std::string state =
        std::string(argv[1]) + "/varne-limit-state-" + std::to_string(::getpid());
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    int status = 0;
    for (int i = 2; i < argc; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            QApplication application(argc, argv);
            std::_Exit(Measure(application, argv[1], std::atoll(argv[i])));
        }
        int result = 0;
        ::waitpid(child, &result, 0);
        if (!WIFEXITED(result) || WEXITSTATUS(result) != 0) {
            std::printf("%6s MiB  failed (%s %d)\n", argv[i],
                        WIFSIGNALED(result) ? "signal" : "status",
                        WIFSIGNALED(result) ? WTERMSIG(result) : WEXITSTATUS(result));
            status = 1;
        }
    }
    if (std::system(("rm -rf '" + state + "'").c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", state.c_str());
    return status;
}
