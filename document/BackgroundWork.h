// Long work on a thread of its own, followed from the GUI thread.
//
// The work reports how far it has got; the GUI thread passes every report on
// to the progress window, in order, and runs what follows the work once it is
// over. Finish() does both and returns once the work is over. Whoever must
// see the work over, from any depth of the event loop that the progress
// window runs (a logout during a save, say), calls Finish() as well: the
// innermost call carries the work to its end, and the outer ones return.
// What follows the work runs once, in whichever call sees it over first.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Platform.h"

class BackgroundWork {
  public:
    // How far the work has got; called on the work's thread.
    using Reached = std::function<void(int64_t done)>;
    using Work = std::function<void(const Reached& reached)>;

    // Starts work at once. afterwards runs on the GUI thread once the work is
    // over and every report has reached progress.
    BackgroundWork(Work work, platform::Progress& progress, std::function<void()> afterwards);
    // Finishes the work first.
    ~BackgroundWork();
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    void Finish();

  private:
    void Report(int64_t done);

    platform::Progress& progress;
    std::function<void()> afterwards;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int64_t> reports; // guarded by mutex
    bool workDone = false;        // guarded by mutex
    size_t passedOn = 0;          // reports passed on to progress
    bool concluded = false;       // afterwards has run
    std::thread thread;           // last, so that it starts with all of the above
};
