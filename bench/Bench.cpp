// Measures Varne's own operations on generated HTML of a given size, offscreen:
// open, typing, jumping to the end, save and memory, beside floors measured in
// the same run; with --one-line, open, typing and End/Home on the same markup
// minified to one line; with --search, the search rows alone (Find, Replace
// All, Go to Line); with --journal, the recovery journal's rows alone.
// Usage: varne-bench [--one-line | --search | --journal] MEBIBYTES [FOLDER]
// (varne-bench --cold-open FILE is one fresh process of the cold-open rows;
// varne-bench --write-page [--one-line] MEBIBYTES FILE only writes the page,
// for the benchmark in a real X server.)
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QAccessible>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include "app/EditorApp.h"
#include "editor/ClipboardBytes.h"
#include "editor/EditorWindow.h"
#include "platform/SearchWindows.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// About eight lines a KiB of markup with attributes, entities, inline client
// scripts in both languages and server blocks. A one-line page is the same
// markup as a minifier leaves it: no indentation, statements of the VBScript
// block joined by colons, one line end at the end of the file.
void WriteHtml(const std::string& path, int64_t bytes, bool oneLine = false) {
    std::mt19937 random(7);
    std::ofstream out(path, std::ios::binary);
    const char* words[] = {"lorem",       "ipsum",      "dolor", "sit",      "amet",
                           "consectetur", "adipiscing", "elit",  "sed",      "do",
                           "eiusmod",     "tempor",     "&amp;", "&lt;b&gt;"};
    auto sentence = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += std::string(words[random() % 14]) + " ";
        return s;
    };
    const std::string nl = oneLine ? "" : "\n";
    const std::string indent = oneLine ? "" : "  ";
    const std::string statementEnd = oneLine ? ":" : "\n    ";
    out << "<!DOCTYPE html>" << nl << "<html>" << nl << "<head><title>Generated page</title></head>"
        << nl << "<body>" << nl;
    int64_t written = 60;
    for (int block = 0; written < bytes; ++block) {
        std::string chunk;
        chunk += "<div class=\"section s" + std::to_string(block) + "\" id=\"d" +
                 std::to_string(block) + "\">" + nl;
        chunk +=
            indent + "<h2 style=\"color: #336699\">Heading " + std::to_string(block) + "</h2>" + nl;
        for (int p = 0; p < 3; ++p)
            chunk += indent + "<p>" + sentence(12) + "<a href=\"page" + std::to_string(p) +
                     ".html?x=1&amp;y=2\">link</a></p>" + nl;
        switch (block % 4) {
        case 0:
            chunk += indent + "<script type=\"text/javascript\">" + nl + indent + indent +
                     "function f" + std::to_string(block) +
                     "(a) { var s = 'text'; if (a > 10) { return a * 2; } return 0; }" + nl +
                     indent + "</script>" + nl;
            break;
        case 1:
            chunk += indent +
                     "<% Dim total: total = 0: For i = 1 To 10: total = total + i: Next %>" + nl;
            break;
        case 2:
            chunk += indent + "<script language=\"vbscript\">" + nl + indent + indent + "Dim name" +
                     statementEnd + "name = \"value\"" + nl + indent + "</script>" + nl;
            break;
        default:
            chunk += indent + "<table border=\"1\"><tr><td>" + sentence(4) + "</td><td>" +
                     std::to_string(random()) + "</td></tr></table>" + nl;
        }
        chunk += "</div>" + nl;
        out << chunk;
        written += int64_t(chunk.size());
    }
    out << "</body>" << nl << "</html>\n";
}

void Paint() {
    theApp.editorWindow->viewport()->repaint();
}

struct Samples {
    std::vector<double> values;
    double Median() {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0 : values[values.size() / 2];
    }
    double Max() { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

// One key press and the paint that shows it.
double TimedKey() {
    const auto start = Clock::now();
    QTest::keyClick(theApp.editorWindow, Qt::Key_X);
    Paint();
    return MillisecondsSince(start);
}

// Milliseconds since the process started: the kernel's start time of the
// process, so that loading the libraries counts too.
double MillisecondsSinceProcessStart() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        fields >> field; // field 22 is the start time in clock ticks since boot
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double started = std::stod(field) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6 - started;
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

double RunCommand(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return MillisecondsSince(start);
}

std::string ReadWhole(const std::string& path) {
    std::string bytes;
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    bytes.resize(size_t(in.tellg()));
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    return bytes;
}

// Reading the file whole plus one insertion into a fresh component.
double FloorOpen(const std::string& path) {
    const auto start = Clock::now();
    const std::string bytes = ReadWhole(path);
    QsciScintillaBase fresh;
    fresh.SendScintilla(SCI_ADDTEXT, bytes.size(), bytes.data());
    return MillisecondsSince(start);
}

void Row(const char* what, double value, const char* unit, const char* target = "") {
    std::printf("  %-48s %9.1f %-3s %s\n", what, value, unit, target);
}

// The targets are set for 100 MiB; smaller runs report the figures only.
bool checkTargets = false;

void Check(const char* what, double value, const char* unit, double limit) {
    if (!checkTargets) {
        Row(what, value, unit);
        return;
    }
    char target[64];
    std::snprintf(target, sizeof target, "target <= %g %s: %s", limit, unit,
                  value <= limit ? "met" : "MISSED");
    Row(what, value, unit, target);
}

// The keystroke rows: a frame (16 ms) at the median, and no key slower than
// 50 ms, wherever in the document it is typed.
void CheckKeystrokes(Samples& start, Samples& middle, Samples& end) {
    Check("keystroke at the start: median", start.Median(), "ms", 16);
    Check("keystroke at the start: max", start.Max(), "ms", 50);
    Check("keystroke in the middle: median", middle.Median(), "ms", 16);
    Check("keystroke in the middle: max", middle.Max(), "ms", 50);
    Check("keystroke at the end: median", end.Median(), "ms", 16);
    Check("keystroke at the end: max", end.Max(), "ms", 50);
}

// Types count keys at one place, each with its paint.
void TypeAt(long position, int count, Samples& samples) {
    theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
    Paint();
    for (int i = 0; i < count; ++i)
        samples.values.push_back(TimedKey());
}

// CPU time of the whole process, in milliseconds: what the work costs,
// whoever else uses the machine.
double CpuMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// What the AT-SPI bridge does in the process with each event it sends: it
// asks for the caret offset, and converts the text for D-Bus.
void BridgeWork(QAccessibleEvent* event) {
    static QByteArray sink;
    QAccessibleInterface* accessible = event->accessibleInterface();
    switch (event->type()) {
    case QAccessible::TextCaretMoved:
        if (accessible && accessible->textInterface())
            sink = QByteArray::number(accessible->textInterface()->cursorPosition());
        break;
    case QAccessible::TextInserted:
        sink = static_cast<QAccessibleTextInsertEvent*>(event)->textInserted().toUtf8();
        break;
    case QAccessible::TextRemoved:
        sink = static_cast<QAccessibleTextRemoveEvent*>(event)->textRemoved().toUtf8();
        break;
    case QAccessible::TextUpdated:
        sink = static_cast<QAccessibleTextUpdateEvent*>(event)->textInserted().toUtf8();
        break;
    default:
        break;
    }
}

// Switches Qt's accessibility on or off through the platform, as the bridge
// does when the desktop's screen-reader flag changes.
void SetScreenReader(bool on) {
    QAccessible::installUpdateHandler(on ? BridgeWork : nullptr);
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(on);
}

// One key, the work it leaves for the event loop, and the paint that shows
// it, in CPU time.
double CpuOfKey(Qt::Key key) {
    const double start = CpuMilliseconds();
    QTest::keyClick(theApp.editorWindow, key);
    QApplication::processEvents();
    Paint();
    return CpuMilliseconds() - start;
}

double CpuOfOpen(QApplication& application, const std::string& path) {
    theApp.ShutDown();
    theApp.StartUp(application);
    QApplication::processEvents();
    Paint();
    const double start = CpuMilliseconds();
    theApp.LoadFile(path);
    QApplication::processEvents();
    Paint();
    return CpuMilliseconds() - start;
}

double IdleUntilStyled(int milliseconds = 60000);

// The same document with a screen reader listening: open beside the open
// without one, typing, caret moves and a query at the end, all in CPU time.
void ScreenReaderRows(QApplication& application, const std::string& path) {
    std::printf("  with a screen reader listening (CPU time):\n");
    Samples plain, listened;
    for (int i = 0; i < 3; ++i) {
        SetScreenReader(false);
        plain.values.push_back(CpuOfOpen(application, path));
        SetScreenReader(true);
        listened.values.push_back(CpuOfOpen(application, path));
    }
    Row("open without a screen reader, median of 3", plain.Median(), "ms");
    Row("open with a screen reader, median of 3", listened.Median(), "ms");
    Check("open with / without", listened.Median() / plain.Median(), "x", 1.5);

    auto typeAt = [](long position, Samples& samples) {
        theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(position));
        QApplication::processEvents();
        Paint();
        for (int i = 0; i < 10; ++i)
            samples.values.push_back(CpuOfKey(Qt::Key_X));
    };
    // Once the styling that follows the open is done: a key during it also
    // waits for one of its slices.
    IdleUntilStyled();
    Samples start, middle, end, caret;
    typeAt(0, start);
    typeAt(theApp.SendEditor(SCI_GETLENGTH) / 2, middle);
    typeAt(theApp.SendEditor(SCI_GETLENGTH), end);
    CheckKeystrokes(start, middle, end);

    for (int i = 0; i < 10; ++i)
        caret.values.push_back(CpuOfKey(i % 2 ? Qt::Key_Up : Qt::Key_Left));
    Row("caret move at the end: median", caret.Median(), "ms");
    Row("caret move at the end: max", caret.Max(), "ms");

    QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(theApp.editorWindow)->textInterface();
    Samples query;
    for (int i = 0; i < 10; ++i) {
        const double begin = CpuMilliseconds();
        const int count = text->characterCount();
        int from, to;
        text->textAtOffset(count - 1, QAccessible::LineBoundary, &from, &to);
        text->text(count - 200, count);
        text->cursorPosition();
        query.values.push_back(CpuMilliseconds() - begin);
    }
    Row("count, line and text at the end, caret: median", query.Median(), "ms");
    SetScreenReader(false);
}

// One fresh process: start-up, then the first open of the file and its paint.
// Prints the open's wall-clock and CPU milliseconds and the milliseconds from
// the process's start to the painted document.
int ColdOpen(int argc, char* argv[]) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    theApp.StartUp(application);
    QApplication::processEvents();
    Paint();
    const double cpu = CpuMilliseconds();
    const auto start = Clock::now();
    theApp.LoadFile(argv[2]);
    Paint();
    const double wall = MillisecondsSince(start);
    std::printf("%f %f %f\n", wall, CpuMilliseconds() - cpu, MillisecondsSinceProcessStart());
    theApp.ShutDown();
    return 0;
}

// The cold opens: each run a new process, as a person starting Varne on a file
// would see it. The processes inherit the environment, so C library settings
// given from outside (GLIBC_TUNABLES) apply to them.
void ColdOpenRows(const std::string& path, int runs) {
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    Samples wall, cpu, total;
    for (int i = 0; i < runs; ++i) {
        const std::string command = std::string("'") + self + "' --cold-open '" + path + "'";
        FILE* child = ::popen(command.c_str(), "r");
        double w = 0, c = 0, t = 0;
        const bool read = child && std::fscanf(child, "%lf %lf %lf", &w, &c, &t) == 3;
        if (child)
            ::pclose(child);
        if (!read) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            return;
        }
        wall.values.push_back(w);
        cpu.values.push_back(c);
        total.values.push_back(t);
    }
    char what[64];
    std::snprintf(what, sizeof what, "cold open in a fresh process, median of %d", runs);
    Check(what, wall.Median(), "ms", 1000);
    Row("cold open: slowest", wall.Max(), "ms");
    Row("cold open: CPU (user + system), median", cpu.Median(), "ms");
    Row("cold open: process start to painted document, median", total.Median(), "ms");
}

// Wall-clock and CPU time of repeated operations. Other work on a shared
// machine stretches the first but hardly the second.
struct Timed {
    Samples wall;
    Samples cpu;

    template <typename Operation> void Measure(Operation operation) {
        const auto start = Clock::now();
        const double cpuStart = CpuMilliseconds();
        operation();
        cpu.values.push_back(CpuMilliseconds() - cpuStart);
        wall.values.push_back(MillisecondsSince(start));
    }
};

// Medians of wall and CPU time; a target, where given, is checked against the
// CPU time.
void TimedRow(const char* what, Timed& timed, double limit = 0) {
    char target[64] = "";
    const double cpu = timed.cpu.Median();
    if (limit > 0)
        std::snprintf(target, sizeof target, "target <= %g ms: %s", limit,
                      cpu <= limit ? "met" : "MISSED");
    std::printf("  %-48s %9.1f ms, CPU %9.1f ms %s\n", what, timed.wall.Median(), cpu, target);
}

void ForgetJournals();

// A fresh editor, as at start-up, painted once. The session before may have
// left a journal of unsaved changes, which an open of the same file would
// offer to recover, waiting for an answer.
void Restart(QApplication& application) {
    theApp.ShutDown();
    ForgetJournals();
    theApp.StartUp(application);
    QApplication::processEvents();
    Paint();
}

void OpenAndPaint(const std::string& path) {
    theApp.LoadFile(path);
    Paint();
}

void PressAndPaint(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(theApp.editorWindow, key, modifiers);
    Paint();
}

// What the event loop did while the program idled.
struct IdleReport {
    double styledAfter = -1; // ms until the whole text was styled; -1 for never
    double longestWait = 0;  // ms: the longest a timer due every 1 ms waited
    double longestBusy = 0;  // ms of the thread's CPU time within that wait
};

double ThreadCpuMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Lets the event loop run, timers and idle work included, as while the person
// at the desk reads. A timer due every millisecond sees how long a key press
// would have waited meanwhile, how much of that the program kept the thread
// busy (the same on a busy machine), and when the whole text was styled.
IdleReport IdleFor(int milliseconds) {
    IdleReport report;
    QElapsedTimer clock;
    clock.start();
    double last = 0;
    double lastCpu = ThreadCpuMilliseconds();
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        const double cpu = ThreadCpuMilliseconds();
        report.longestWait = std::max(report.longestWait, now - last);
        report.longestBusy = std::max(report.longestBusy, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
        if (report.styledAfter < 0 &&
            theApp.SendEditor(SCI_GETENDSTYLED) >= theApp.SendEditor(SCI_GETLENGTH))
            report.styledAfter = now;
    });
    tick.start();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return report;
}

void ReaderRowsOnOneLine(QApplication& application, const std::string& path);

// A page minified to a single line: each edit there makes the component style
// and lay out the whole line again.
void BenchOneLine(QApplication& application, const std::string& folder, int64_t mebibytes) {
    const std::string path = folder + "/varne-bench-line-" + std::to_string(::getpid()) + ".html";
    WriteHtml(path, mebibytes << 20, true);
    RunCommand("cat '" + path + "' > /dev/null");
    std::printf("%lld MiB of generated HTML on one line, %s\n", static_cast<long long>(mebibytes),
                path.c_str());
    const double keyLimit = mebibytes == 2 ? 100 : mebibytes == 10 ? 700 : 0;

    Timed open;
    for (int i = 0; i < 3; ++i) {
        Restart(application);
        open.Measure([&] { OpenAndPaint(path); });
    }
    TimedRow("one line: open and first paint, median of 3", open, mebibytes == 10 ? 3000 : 0);

    constexpr int keys = 9;
    Timed atEnd, atStart, end, home;
    theApp.SendEditor(SCI_GOTOPOS,
                      static_cast<unsigned long>(theApp.SendEditor(SCI_GETLENGTH) - 1));
    Paint();
    for (int i = 0; i < keys; ++i)
        atEnd.Measure([] { PressAndPaint(Qt::Key_X); });
    theApp.SendEditor(SCI_GOTOPOS, 0);
    Paint();
    for (int i = 0; i < keys; ++i)
        atStart.Measure([] { PressAndPaint(Qt::Key_X); });
    for (int i = 0; i < 3; ++i) {
        end.Measure([] { PressAndPaint(Qt::Key_End); });
        home.Measure([] { PressAndPaint(Qt::Key_Home); });
    }
    TimedRow("one line: keystroke at the end of the line, median", atEnd, keyLimit);
    TimedRow("one line: keystroke at the start, median", atStart, keyLimit);
    TimedRow("one line: End, median of 3", end);
    TimedRow("one line: Home, median of 3", home);
    checkTargets = mebibytes >= 10;
    ReaderRowsOnOneLine(application, path);
    checkTargets = false;
    theApp.ShutDown();
    std::remove(path.c_str());
}

// Runs the event loop until the whole text is styled (or the time is up),
// as while nobody touches anything; returns the wall milliseconds.
double IdleUntilStyled(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (theApp.SendEditor(SCI_GETENDSTYLED) >= theApp.SendEditor(SCI_GETLENGTH) ||
            clock.elapsed() >= milliseconds)
            loop.quit();
    });
    poll.start(1);
    if (theApp.SendEditor(SCI_GETENDSTYLED) < theApp.SendEditor(SCI_GETLENGTH))
        loop.exec();
    return double(clock.nsecsElapsed()) / 1e6;
}

// Styling in idle time after an open, and what it leaves to Ctrl+End; one
// key at the start with all the styling it sets off; Ctrl+End right after an
// open, which paints the end at once and colours it when idle styling gets
// there.
void BenchStyling(QApplication& application, const std::string& path) {
    Samples idleCpu, idleWall, wait, busy;
    Timed jump, key;
    for (int i = 0; i < 3; ++i) {
        Restart(application);
        OpenAndPaint(path);
        const double cpu = CpuMilliseconds();
        const IdleReport report = IdleFor(2000);
        const double wall = 2000 + IdleUntilStyled();
        idleCpu.values.push_back(CpuMilliseconds() - cpu);
        idleWall.values.push_back(report.styledAfter >= 0 ? report.styledAfter : wall);
        wait.values.push_back(report.longestWait);
        busy.values.push_back(report.longestBusy);
        jump.Measure([] { PressAndPaint(Qt::Key_End, Qt::ControlModifier); });
        theApp.SendEditor(SCI_GOTOPOS, 0);
        Paint();
        key.Measure([] {
            PressAndPaint(Qt::Key_X);
            IdleUntilStyled();
        });
    }
    Check("idle styling after the open: CPU until all is styled", idleCpu.Median(), "ms", 3000);
    Row("idle styling after the open: wall time until all is styled", idleWall.Median(), "ms");
    Row("longest wait of the event loop meanwhile, max", wait.Max(), "ms");
    Check("longest the program kept it busy meanwhile (CPU), max", busy.Max(), "ms", 16);
    TimedRow("Ctrl+End once all is styled, median of 3", jump, checkTargets ? 50 : 0);
    TimedRow("one key at the start and the styling it sets off", key, checkTargets ? 50 : 0);

    Timed fresh;
    Samples coloured;
    for (int i = 0; i < 3; ++i) {
        Restart(application);
        OpenAndPaint(path);
        fresh.Measure([] { PressAndPaint(Qt::Key_End, Qt::ControlModifier); });
        coloured.values.push_back(IdleUntilStyled());
    }
    TimedRow("Ctrl+End right after the open, median of 3", fresh, checkTargets ? 50 : 0);
    Row("then idle time until the end is coloured", coloured.Median(), "ms");
}

// What a screen reader asks on every arrow key, in the middle of a page
// minified to one line, in CPU time: the characters and words before, at and
// after the caret, a caret move and a selection with the events they send;
// and a line query beside the line's text produced once.
void ReaderRowsOnOneLine(QApplication& application, const std::string& path) {
    SetScreenReader(true);
    Restart(application);
    OpenAndPaint(path);
    QApplication::processEvents();
    QAccessibleTextInterface* text =
        QAccessible::queryAccessibleInterface(theApp.editorWindow)->textInterface();
    const int middle = text->characterCount() / 2;
    auto median = [](auto operation) {
        Samples samples;
        for (int i = 0; i < 9; ++i) {
            const double start = CpuMilliseconds();
            operation(i);
            samples.values.push_back(CpuMilliseconds() - start);
        }
        return samples.Median();
    };
    int start, end;
    for (const auto type : {QAccessible::CharBoundary, QAccessible::WordBoundary}) {
        const char* what = type == QAccessible::CharBoundary ? "character" : "word";
        const double cost = median([&](int i) {
            text->textBeforeOffset(middle + i, type, &start, &end);
            text->textAtOffset(middle + i, type, &start, &end);
            text->textAfterOffset(middle + i, type, &start, &end);
        });
        char row[80];
        std::snprintf(row, sizeof row, "reader: %s before, at and after the middle", what);
        Check(row, cost / 3 * 1000, "us", 2000);
    }
    Check("reader: caret move in the middle, with its event",
          1000 * median([&](int i) {
              text->setCursorPosition(middle + 2 * i);
              QApplication::processEvents();
          }),
          "us", 2000);
    Check("reader: selection in the middle, with its event",
          1000 * median([&](int i) {
              text->setSelection(0, middle + i, middle + 20 + i);
              QApplication::processEvents();
          }),
          "us", 2000);
    Row("reader: the line's text, as a line query",
        median([&](int) { text->textAtOffset(middle, QAccessible::LineBoundary, &start, &end); }),
        "ms");
    Row("reader: the line's text, read once",
        median([&](int) { text->text(0, text->characterCount()); }), "ms");
    SetScreenReader(false);
}

std::string Status() {
    return theApp.findWindow ? theApp.findWindow->Status().toStdString() : "";
}

void Search(platform::SearchAction action, const std::string& what, const std::string& with = "",
            bool expression = false, long line = 0) {
    platform::SearchRequest request;
    request.action = action;
    request.what = what;
    request.with = with;
    request.regularExpression = expression;
    request.line = line;
    theApp.HandleSearchRequest(request);
}

// Find, Replace All and Go to Line in the whole document, once it is styled
// (as it is a few seconds after the open), each with the paint that shows
// its result. The targets are checked against CPU time.
void BenchSearch(QApplication& application, const std::string& path) {
    Restart(application);
    OpenAndPaint(path);
    theApp.SendEditor(SCI_COLOURISE, 0, -1);
    const Position length = theApp.SendEditor(SCI_GETLENGTH);
    // A word found only near the end, put there as an edit would be, so that
    // the first search also gathers the text the edit left in two parts.
    const std::string needle = "zanzibar";
    theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(length - 100));
    theApp.SendEditor(SCI_ADDTEXT, needle.size(), needle.data());
    theApp.ExecuteCommand(IDM_FIND);
    Timed find;
    for (int i = 0; i < 3; ++i) {
        theApp.SendEditor(SCI_GOTOPOS, 0);
        Paint();
        find.Measure([&] {
            Search(platform::SearchAction::findNext, needle);
            Paint();
        });
    }
    TimedRow("Find Next from the start to the end, median of 3", find, checkTargets ? 150 : 0);
    if (theApp.SendEditor(SCI_GETSELECTIONSTART) != length - 100)
        std::printf("  the search did not find the word: %s\n", Status().c_str());
    std::printf("  (the first, which gathers the text: %.1f ms, CPU %.1f ms)\n",
                find.wall.values[0], find.cpu.values[0]);

    Timed expression;
    for (int i = 0; i < 3; ++i) {
        theApp.SendEditor(SCI_GOTOPOS, 0);
        expression.Measure(
            [] { Search(platform::SearchAction::findNext, "function f\\d+\\(b\\)", "", true); });
    }
    TimedRow("regular expression through the whole text, median of 3", expression,
             checkTargets ? 1000 : 0);
    std::printf("  (it said: %s)\n", Status().c_str());
    Timed classes;
    for (int i = 0; i < 3; ++i) {
        theApp.SendEditor(SCI_GOTOPOS, 0);
        classes.Measure(
            [] { Search(platform::SearchAction::findNext, "[0-9]{12}[a-z]", "", true); });
    }
    TimedRow("one with no letter to look for first, median of 3", classes, checkTargets ? 1000 : 0);

    Timed go;
    const Position middle = theApp.SendEditor(SCI_GETLINECOUNT) / 2;
    for (int i = 0; i < 3; ++i) {
        theApp.SendEditor(SCI_GOTOPOS, 0);
        Paint();
        go.Measure([&] {
            theApp.ExecuteCommand(IDM_GOTOLINE);
            Search(platform::SearchAction::goToLine, "", "", false, long(middle + i));
            Paint();
        });
    }
    TimedRow("Go to Line to the middle, median of 3", go, checkTargets ? 50 : 0);

    // Replace All through the progress window, with a timer due every
    // millisecond to see how long the event loop is kept waiting.
    const std::string_view text = [] {
        const auto* bytes = reinterpret_cast<const char*>(
            theApp.SendEditor(SCI_GETRANGEPOINTER, 0, theApp.SendEditor(SCI_GETLENGTH)));
        return std::string_view(bytes, size_t(theApp.SendEditor(SCI_GETLENGTH)));
    }();
    long count = 0;
    for (size_t at = text.find("&amp;"); at != std::string_view::npos;
         at = text.find("&amp;", at + 5))
        ++count;
    Timed plan;
    plan.Measure([&] {
        std::string error;
        const auto pattern = SearchPattern::Compile("&amp;", SearchOptions(), error);
        TextSearch search(*pattern, text);
        ReplacementPlan edits;
        PlanReplaceAll(search, "&", edits);
    });
    TimedRow("Replace All: finding the matches and planning alone", plan);
    QElapsedTimer clock;
    clock.start();
    double last = 0, longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e6;
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start();
    QApplication::processEvents();
    Timed replace;
    replace.Measure([] {
        Search(platform::SearchAction::replaceAll, "&amp;", "&");
        Paint();
    });
    const double total = double(clock.nsecsElapsed()) / 1e6;
    longest = std::max(longest, total - last);
    tick.stop();
    char what[80];
    std::snprintf(what, sizeof what, "Replace All of %ld matches", count);
    TimedRow(what, replace, checkTargets ? 2000 : 0);
    Check("longest wait of the event loop meanwhile", longest, "ms", 100);
    Row("text after Replace All / before (bytes)",
        double(theApp.SendEditor(SCI_GETLENGTH)) / double(length), "x");
    Timed undo;
    undo.Measure([] {
        theApp.ExecuteCommand(IDM_UNDO);
        Paint();
    });
    TimedRow("Undo of that Replace All", undo);
    Row("peak resident memory after Replace All and Undo", double(PeakResidentKiB()) / 1024, "MiB");
}

// ---------------------------------------------------------------------------
// The recovery journal.

// The program ends first, so that its journal writes nothing more there.
void ForgetState(const std::string& state) {
    theApp.ShutDown();
    RunCommand("rm -rf '" + state + "'");
}

// Answers the recovery question with Recover; everything else is Qt's.
class RecoveringDesktop : public platform::QtDesktop {
  public:
    int Ask(QWidget*, const std::string&, const std::string&, const std::vector<std::string>&,
            int defaultButton, int) override {
        return defaultButton;
    }
};

std::string JournalFolderForBench() {
    return std::string(std::getenv("XDG_STATE_HOME")) + "/varne";
}

// The journals the sessions before left behind, which LoadFile would offer.
void ForgetJournals() {
    RunCommand("rm -f '" + JournalFolderForBench() + "'/*");
}

// The peak resident memory from now on (Linux resets it on "5").
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A fresh session on the file, its journal on or off (off is Varne before the
// journal: no change is recorded). With the
// journal, one key has been typed and its batch, with the copy of the file
// the journal takes after its first batch, is on disk.
void JournalSession(QApplication& application, const std::string& path, bool journaled) {
    theApp.ShutDown();
    ForgetJournals();
    theApp.StartUp(application);
    QApplication::processEvents();
    OpenAndPaint(path);
    theApp.editorWindow->SetChangeRecording(journaled);
    if (journaled) {
        PressAndPaint(Qt::Key_X);
        theApp.SyncJournal(600000);
    }
}

// Writes bytes to a new file in folder and flushes it, as the journal's
// writer does with a batch; the milliseconds it took.
double WriteAndFlush(const std::string& folder, const QByteArray& bytes) {
    const std::string name = folder + "/varne-bench-written";
    const auto start = Clock::now();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (qsizetype at = 0; fd >= 0 && at < bytes.size();) {
        const ssize_t n =
            ::write(fd, bytes.data() + at, size_t(std::min<qsizetype>(bytes.size() - at, 1 << 20)));
        if (n <= 0)
            break;
        at += n;
    }
    if (fd < 0 || ::fdatasync(fd) != 0)
        std::fprintf(stderr, "failed to write %s\n", name.c_str());
    ::close(fd);
    const double elapsed = MillisecondsSince(start);
    std::remove(name.c_str());
    return elapsed;
}

// A journal of scattered edits to the file, left as a process that ended
// leaves it: one batch, then the copy of the file, then the edits in batches
// of 100. Returns the length of the text it rebuilds.
int64_t WriteJournalOfEdits(const std::string& path, int edits) {
    Journal::Settings settings;
    settings.folder = JournalFolderForBench();
    Journal journal(settings);
    JournalBase base{path, FileIdentity{}, 0};
    IdentifyFile(path, *base.file);
    base.length = base.file->size;
    journal.Begin(base);
    std::mt19937 random(3);
    int64_t length = base.length + 1;
    const std::string bytes = "<b>inserted text</b>";
    auto fill = [&](char* into, int64_t offset, int64_t count) {
        std::memcpy(into, bytes.data() + offset, size_t(count));
    };
    journal.Change(0, 0, 1, fill);
    journal.Flush();
    journal.WaitUntilWritten(600000);
    for (int i = 0; i < edits; ++i) {
        const int64_t position = int64_t(random() % uint64_t(length + 1));
        const int64_t removed = std::min<int64_t>(length - position, int64_t(random() % 3) * 4);
        const int64_t inserted = int64_t(random() % bytes.size());
        journal.Change(position, removed, inserted, fill);
        length += inserted - removed;
        if (i % 100 == 99)
            journal.Flush();
    }
    journal.Flush();
    journal.WaitUntilWritten(600000);
    return length;
}

// A ratio to two decimals, against its target when targets are checked.
void CheckRatio(const char* what, double value, double limit) {
    std::printf("  %-48s %9.2f x   ", what, value);
    if (checkTargets)
        std::printf("target <= %g x: %s", limit, value <= limit ? "met" : "MISSED");
    std::printf("\n");
}

void JournalRows(QApplication& application, const std::string& path) {
    std::printf("  recovery journal:\n");
    JournalSession(application, path, false);
    theApp.editorWindow->SetChangeRecording(true);
    Timed copy;
    copy.Measure([] {
        PressAndPaint(Qt::Key_X);
        theApp.SyncJournal(600000);
    });
    TimedRow("first key after the open, to its batch and the copy of the file on disk", copy);

    // Keystrokes in CPU time, with and without the journal, a session of
    // each in turn: runs of keys a typist's pace apart (16 ms), so that the
    // journal flushes as it would, and the CPU of the whole run over its keys.
    constexpr int runs = 3, keysPerRun = 60;
    Samples keys[2][3];
    for (int round = 0; round < runs; ++round) {
        for (const bool journaled : {false, true}) {
            JournalSession(application, path, journaled);
            for (int place = 0; place < 3; ++place) {
                const Position length = theApp.SendEditor(SCI_GETLENGTH);
                theApp.SendEditor(SCI_GOTOPOS, static_cast<unsigned long>(place * length / 2));
                QApplication::processEvents();
                Paint();
                const double cpu = CpuMilliseconds();
                for (int i = 0; i < keysPerRun; ++i) {
                    const auto start = Clock::now();
                    CpuOfKey(Qt::Key_X);
                    QTest::qWait(std::max(0, 16 - int(MillisecondsSince(start))));
                }
                keys[journaled][place].values.push_back((CpuMilliseconds() - cpu) / keysPerRun);
            }
        }
    }
    const char* places[] = {"start", "middle", "end"};
    for (int place = 0; place < 3; ++place) {
        char what[96];
        std::snprintf(what, sizeof what, "keystroke CPU at the %s, without / with", places[place]);
        std::printf("  %-48s %9.2f / %.2f ms\n", what, keys[0][place].Median(),
                    keys[1][place].Median());
        std::snprintf(what, sizeof what, "  with / without at the %s", places[place]);
        CheckRatio(what, keys[1][place].Median() / keys[0][place].Median(), 1.05);
    }

    // Memory holding the document, typed into, with and without the journal.
    double peaks[2];
    for (const bool journaled : {false, true}) {
        theApp.ShutDown();
        ResetPeakMemory();
        JournalSession(application, path, journaled);
        for (int i = 0; i < 10; ++i)
            PressAndPaint(Qt::Key_X);
        theApp.SyncJournal(600000);
        peaks[journaled] = double(PeakResidentKiB()) / 1024;
    }
    std::printf("  %-48s %9.1f / %.1f MiB\n", "peak memory holding the document, without / with",
                peaks[0], peaks[1]);
    CheckRatio("  with / without", peaks[1] / peaks[0], 1.05);

    // A paste as large as the file, from the paste to its batch on disk,
    // beside writing as many bytes to a new file in the same folder, in turns
    // (the first large write after a while is often the slowest of all).
    const QByteArray pasted = QByteArray::fromStdString(ReadWhole(path));
    double pastePeaks[2] = {0, 0};
    Timed paste[2], journaling;
    Samples written;
    for (int round = 0; round < 3; ++round) {
        for (const bool journaled : {false, true}) {
            JournalSession(application, path, journaled);
            QApplication::clipboard()->setMimeData(MimeDataForBytes(pasted, false));
            theApp.SendEditor(SCI_GOTOPOS,
                              static_cast<unsigned long>(theApp.SendEditor(SCI_GETLENGTH)));
            written.values.push_back(WriteAndFlush(JournalFolderForBench(), pasted));
            ResetPeakMemory();
            paste[journaled].Measure([] { theApp.ExecuteCommand(IDM_PASTE); });
            if (journaled)
                journaling.Measure([] { theApp.SyncJournal(600000); });
            pastePeaks[journaled] =
                std::max(pastePeaks[journaled], double(PeakResidentKiB()) / 1024);
        }
    }
    TimedRow("paste of the file's size, without the journal", paste[0]);
    TimedRow("the same paste, with the journal", paste[1]);
    TimedRow("the paste's batch, from the flush to the disk", journaling);
    Row("writing as many bytes to a file and flushing it", written.Median(), "ms");
    CheckRatio("  the paste's batch / writing", journaling.wall.Median() / written.Median(), 1.5);
    std::printf("  %-48s %9.1f / %.1f MiB\n", "peak memory over the paste, without / with",
                pastePeaks[0], pastePeaks[1]);

    // Recovering 10,000 edits made all over the file.
    theApp.ShutDown();
    ForgetJournals();
    const int64_t expected = WriteJournalOfEdits(path, 10000);
    theApp.StartUp(application);
    QApplication::processEvents();
    Paint();
    RecoveringDesktop recovering;
    platform::SetDesktop(&recovering);
    Timed recovery;
    recovery.Measure([&] { OpenAndPaint(path); });
    platform::SetDesktop(nullptr);
    TimedRow("recovery of 10,000 edits: LoadFile and paint", recovery, checkTargets ? 1000 : 0);
    if (theApp.SendEditor(SCI_GETLENGTH) != expected || !theApp.modified)
        std::printf("  RECOVERY FAILED: %lld bytes, %lld expected\n",
                    static_cast<long long>(theApp.SendEditor(SCI_GETLENGTH)),
                    static_cast<long long>(expected));
    theApp.ShutDown();
    ForgetJournals();
    theApp.StartUp(application);
}

} // namespace

// Writes the page the rows measure, and nothing else.
int WritePage(int argc, char* argv[]) {
    const bool oneLine = argc == 5 && std::string(argv[2]) == "--one-line";
    if (argc != (oneLine ? 5 : 4)) {
        std::fprintf(stderr, "usage: varne-bench --write-page [--one-line] MEBIBYTES FILE\n");
        return 2;
    }
    const int64_t mebibytes = std::atoll(argv[argc - 2]);
    WriteHtml(argv[argc - 1], mebibytes << 20, oneLine);
    std::ifstream written(argv[argc - 1], std::ios::binary | std::ios::ate);
    if (mebibytes <= 0 || !written || int64_t(written.tellg()) < (mebibytes << 20)) {
        std::fprintf(stderr, "varne-bench: could not write %s\n", argv[argc - 1]);
        return 1;
    }
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc == 3 && std::string(argv[1]) == "--cold-open")
        return ColdOpen(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--write-page")
        return WritePage(argc, argv);
    const bool oneLine = argc > 1 && std::string(argv[1]) == "--one-line";
    const bool searchOnly = argc > 1 && std::string(argv[1]) == "--search";
    const bool journalOnly = argc > 1 && std::string(argv[1]) == "--journal";
    const int sizeArgument = oneLine || searchOnly || journalOnly ? 2 : 1;
    if (argc <= sizeArgument) {
        std::fprintf(stderr,
                     "usage: varne-bench [--one-line | --search | --journal] MEBIBYTES [FOLDER]\n");
        return 2;
    }
    const int64_t mebibytes = std::atoll(argv[sizeArgument]);
    const double size = double(mebibytes);
    checkTargets = mebibytes >= 100;
    const std::string folder = argc > sizeArgument + 1 ? argv[sizeArgument + 1] : "/tmp";
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Recovery journals of the bench's own, on the disk of the files it
    // writes, never the user's.
    const std::string state = folder + "/varne-bench-state-" + std::to_string(::getpid());
    setenv("XDG_STATE_HOME", state.c_str(), 1);
    QApplication application(argc, argv);
    theApp.StartUp(application);
    QApplication::processEvents();
    Paint();
    if (oneLine) {
        BenchOneLine(application, folder, mebibytes);
        ForgetState(state);
        return 0;
    }
    const double startUp = MillisecondsSinceProcessStart();

    const std::string path = folder + "/varne-bench-" + std::to_string(::getpid()) + ".html";
    WriteHtml(path, mebibytes << 20);
    RunCommand("cat '" + path + "' > /dev/null");
    std::printf("%lld MiB of generated HTML, %s\n", static_cast<long long>(mebibytes),
                path.c_str());
    if (searchOnly || journalOnly) {
        if (searchOnly)
            BenchSearch(application, path);
        else
            JournalRows(application, path);
        std::remove(path.c_str());
        ForgetState(state);
        return 0;
    }
    Check("start-up to the first painted frame", startUp, "ms", 300);

    // Each open in a fresh editor, as each floor below is.
    Samples open, floor;
    for (int i = 0; i < 3; ++i) {
        theApp.ShutDown();
        theApp.StartUp(application);
        QApplication::processEvents();
        Paint();
        const auto start = Clock::now();
        theApp.LoadFile(path);
        Paint();
        open.values.push_back(MillisecondsSince(start));
    }
    const double firstOpen = open.values.front();
    Row("open: the first in this process", firstOpen, "ms");
    Check("open: LoadFile and first paint, median of 3", open.Median(), "ms", 1000);

    // Typing: a run of keys at the end right after the load, then at the
    // start and in the middle; the first of each run moves the gap there.
    Samples end, start, middle;
    TypeAt(theApp.SendEditor(SCI_GETLENGTH), 10, end);
    Check("first keystroke after the load (at the end)", end.values.front(), "ms", 50);
    TypeAt(0, 10, start);
    TypeAt(theApp.SendEditor(SCI_GETLENGTH) / 2, 10, middle);
    TypeAt(theApp.SendEditor(SCI_GETLENGTH), 10, end);
    CheckKeystrokes(start, middle, end);

    // Saving the unchanged document, on tmpfs so that the flush costs nothing,
    // beside cp of the same file to the same place.
    theApp.LoadFile(path);
    Paint();
    const std::string shmSave = "/dev/shm/varne-bench-save.html";
    const std::string shmCopy = "/dev/shm/varne-bench-copy.html";
    Samples save, copy;
    theApp.filePath = shmSave;
    for (int i = 0; i < 3; ++i) {
        const auto s = Clock::now();
        theApp.SaveToFile();
        save.values.push_back(MillisecondsSince(s));
        copy.values.push_back(RunCommand("cp '" + path + "' " + shmCopy));
    }
    Row("save: SaveToFile to tmpfs, median of 3", save.Median(), "ms");
    Row("cp of the same file to tmpfs, median of 3", copy.Median(), "ms");
    Check("save / cp", save.Median() / copy.Median(), "x", 1.5);
    theApp.filePath = folder + "/varne-bench-save.html";
    const auto flushed = Clock::now();
    theApp.SaveToFile();
    Row("save to disk, flush to disk included", MillisecondsSince(flushed), "ms");
    RunCommand("rm -f " + shmSave + " " + shmCopy + " '" + theApp.filePath + "'");

    const double peak = double(PeakResidentKiB()) / 1024;
    Check("peak resident memory holding the document", peak, "MiB", 2.2 * size + 60);

    BenchStyling(application, path);

    // The floor last, so that its own memory does not count in the peak above.
    theApp.ShutDown();
    for (int i = 0; i < 3; ++i)
        floor.values.push_back(FloorOpen(path));
    Row("floor: read whole + one insertion, median of 3", floor.Median(), "ms");
    Check("open / floor", open.Median() / floor.Median(), "x", 1.5);
    ScreenReaderRows(application, path);
    ColdOpenRows(path, 5);
    JournalRows(application, path);
    // Last, since Replace All's undo history adds to the peak above.
    std::printf("  search:\n");
    BenchSearch(application, path);
    std::remove(path.c_str());
    ForgetState(state);
    return 0;
}
