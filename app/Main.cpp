#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/EditorApp.h"

namespace {

bool HasDisplay() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char* argv[]) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "varne: no display found: start Varne from a desktop session "
                             "(DISPLAY or WAYLAND_DISPLAY is not set).\n");
        return 1;
    }
    QApplication application(argc, argv);
    theApp.StartUp(application);
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
