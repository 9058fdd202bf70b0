#include "document/BackgroundWork.h"

#include <chrono>

BackgroundWork::BackgroundWork(Work work, platform::Progress& progress,
                               std::function<void()> afterwards)
    : progress(progress), afterwards(std::move(afterwards)), thread([this, work = std::move(work)] {
          work([this](int64_t done) { Report(done); });
          const std::lock_guard<std::mutex> lock(mutex);
          workDone = true;
          changed.notify_all();
      }) {}

BackgroundWork::~BackgroundWork() {
    Finish();
    thread.join();
}

void BackgroundWork::Report(int64_t done) {
    const std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(done);
    changed.notify_all();
}

// Each report is taken off under the lock and passed on without it, since the
// progress window may run the event loop, and with it another Finish().
void BackgroundWork::Finish() {
    constexpr std::chrono::milliseconds patience(50);
    while (!concluded) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, patience,
                              [this] { return passedOn < reports.size() || workDone; })) {
            lock.unlock();
            progress.StillWorking();
            continue;
        }
        if (passedOn < reports.size()) {
            const int64_t done = reports[passedOn++];
            lock.unlock();
            progress.Advance(done);
            continue;
        }
        lock.unlock();
        concluded = true;
        if (afterwards)
            afterwards();
    }
}
