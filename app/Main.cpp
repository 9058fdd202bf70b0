#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/CommandLine.h"
#include "app/EditorApp.h"

namespace {

bool HasDisplay() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// For the benchmark alone, which compares Varne with and without its
// recovery journal (bench/README.md). Never set otherwise: unsaved text is
// then lost to a crash, and Varne says so.
bool JournalSwitchedOff() {
    const char* value = std::getenv("VARNE_BENCH_WITHOUT_JOURNAL");
    if (!value || std::string(value) != "1")
        return false;
    std::fprintf(stderr, "varne: VARNE_BENCH_WITHOUT_JOURNAL=1: unsaved changes are not kept "
                         "for recovery.\n");
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    const CommandLine commandLine = ReadCommandLine(argc, argv);
    if (commandLine.done)
        return commandLine.status;
    if (!HasDisplay()) {
        std::fprintf(stderr, "varne: no display found: start Varne from a desktop session "
                             "(DISPLAY or WAYLAND_DISPLAY is not set).\n");
        return 1;
    }
    const std::vector<std::string>& files = commandLine.files;
    if (files.size() > 1)
        OpenInProcessesOfTheirOwn(argv[0], {files.begin() + 1, files.end()});
    // Qt sees no argument but the program's name: the file names are Varne's.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    theApp.journalWanted = !JournalSwitchedOff();
    theApp.StartUp(application);
    if (!files.empty())
        theApp.OpenFromCommandLine(files.front());
    else
        theApp.OfferUntitledRecovery();
    int status, endingSignal;
    {
        platform::EndingWatch endings(theApp.EndingHandlers());
        status = application.exec();
        endingSignal = endings.CaughtSignal();
    }
    theApp.ShutDown();
    if (endingSignal)
        platform::EndBySignal(endingSignal);
    return status;
}
