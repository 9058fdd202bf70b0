// Signals through a self-pipe, the session manager's logout, and the exit Qt
// takes when the display is gone.
#include "platform/Endings.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

#include "platform/Platform.h"

namespace platform {

namespace {

constexpr int watchedSignals[] = {SIGTERM, SIGHUP, SIGINT};

int signalPipe[2] = {-1, -1};
struct sigaction previousActions[std::size(watchedSignals)];
EndingWatch* activeWatch = nullptr;

// Runs inside the signal: only writes the signal's number for the event loop.
// SA_RESETHAND makes a second signal of the same kind end the program at once,
// for a program too busy to answer the first.
void WriteSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    (void)!::write(signalPipe[1], &number, 1);
    errno = savedErrno;
}

} // namespace

EndingWatch::EndingWatch(EndingHandlers handlers) : handlers(std::move(handlers)) {
    activeWatch = this;
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &EndingWatch::ReadSignals);
        for (size_t i = 0; i < std::size(watchedSignals); ++i) {
            struct sigaction action {};
            action.sa_handler = WriteSignal;
            action.sa_flags = SA_RESTART | SA_RESETHAND;
            sigemptyset(&action.sa_mask);
            ::sigaction(watchedSignals[i], nullptr, &previousActions[i]);
            // A signal the program was started to ignore (nohup) stays ignored.
            if (previousActions[i].sa_handler != SIG_IGN)
                ::sigaction(watchedSignals[i], &action, nullptr);
        }
    }
    static const bool registered = std::atexit(&EndingWatch::ProcessExiting) == 0;
    (void)registered;
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::commitDataRequest, this, &EndingWatch::CommitData,
                Qt::DirectConnection);
    }
}

EndingWatch::~EndingWatch() {
    activeWatch = nullptr;
    if (signalPipe[0] < 0)
        return;
    for (size_t i = 0; i < std::size(watchedSignals); ++i)
        ::sigaction(watchedSignals[i], &previousActions[i], nullptr);
    delete notifier;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void EndingWatch::ReadSignals() {
    unsigned char number;
    while (::read(signalPipe[0], &number, 1) == 1) {
        if (ending)
            continue;
        ending = true;
        caughtSignal = number;
        handlers.preserve();
        CurrentDesktop().PostQuitMessage(128 + caughtSignal);
    }
}

void EndingWatch::CommitData(QSessionManager& manager) {
    // Without leave to interact nothing can be asked; the session's end then
    // reaches the program as a signal or as the display going away.
    if (manager.allowsInteraction() && !handlers.logout())
        manager.cancel();
}

// Qt's X11 plugin calls exit(1) when the display is gone. Any exit while the
// watch exists is one the program did not choose.
void EndingWatch::ProcessExiting() {
    EndingWatch* watch = activeWatch;
    if (!watch || watch->ending)
        return;
    watch->ending = true;
    watch->handlers.preserve();
}

void EndBySignal(int signal) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace platform
