// How the program ends when the person at the desk did not choose to: a signal
// asking it to stop (SIGTERM, SIGHUP, SIGINT), the desktop session logging
// out, or the display going away. Each is reported to the program through a
// handler, so that unsaved text is asked about or kept before the end.
//
// Signals are turned into events of the event loop (a self-pipe), so that the
// handler runs as ordinary code. Qt's X11 plugin ends the process with exit(1)
// as soon as it finds the display gone, so that ending is reported from the
// process's exit handlers, while the program's objects still exist.
#pragma once

#include <QObject>
#include <functional>

class QSessionManager;
class QSocketNotifier;

namespace platform {

struct EndingHandlers {
    // The program ends whatever it does (a signal, the display lost): keep
    // what must not be lost, without asking anything.
    std::function<void()> preserve;
    // The session is logging out and lets the program ask. Returns false to
    // ask the session manager to call the logout off.
    std::function<bool()> logout;
};

// Watches for those endings while it exists. One at a time.
class EndingWatch : public QObject {
    Q_OBJECT

  public:
    explicit EndingWatch(EndingHandlers handlers);
    // Signals are handled as before again, and an exit from now on is the
    // program's own.
    ~EndingWatch() override;

    // The signal that asked the program to end, or 0.
    int CaughtSignal() const { return caughtSignal; }

  private:
    void ReadSignals();
    void CommitData(QSessionManager& manager);
    static void ProcessExiting();

    EndingHandlers handlers;
    QSocketNotifier* notifier = nullptr;
    int caughtSignal = 0;
    bool ending = false;
};

// Ends the process by the signal that asked it to end, as if the signal had
// never been caught, so that whoever started it learns why it ended.
void EndBySignal(int signal);

} // namespace platform
