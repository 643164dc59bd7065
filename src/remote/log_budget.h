#pragma once
// A bound on the log lines that senders nobody has admitted can cause: at most `lines` lines in
// any `windowSeconds` (the OSC listener allows 10 per minute). What does not fit is counted and
// said in one line on the main queue a window after the first line left out (later if the
// budget has no room then); that line counts against the budget too.
//
// Threads: take() may be called from any thread (the OSC receive thread); the note is logged
// on the main queue. Destroy it on the main queue: a note still pending then stays unsaid.
#include "platform/lifetime_guard.h"
#include "platform/logger.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace orevant {

class MainQueue;

class LogBudget {
public:
    // The note is written to `log`; time is the main queue's clock.
    LogBudget(MainQueue& mainQueue, Logger log, size_t lines, double windowSeconds);

    // Whether one line may be written now, leaving at least `keepFree` lines of the budget for
    // more important ones. A refused line is counted for the note.
    bool take(size_t keepFree = 0);

    size_t suppressed() const;

private:
    // Under lock_: takes the slot of the oldest line written when a window has passed since it
    // and more than `keepFree` slots are free.
    bool freeSlot(double now, size_t keepFree = 0);
    void scheduleNote(double now);
    void writeNote();

    MainQueue& mainQueue_;
    Logger log_;
    const double window_;
    mutable std::mutex lock_;
    // When each of the last `lines` lines was written, oldest at next_.
    std::vector<double> written_;
    size_t next_ = 0;
    size_t suppressed_ = 0;
    bool notePending_ = false;
    LifetimeGuard guard_;
};

} // namespace orevant
