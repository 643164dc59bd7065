#include "remote/log_budget.h"

#include "platform/logger.h"
#include "platform/main_queue.h"

#include <algorithm>
#include <limits>

namespace orevant {

LogBudget::LogBudget(MainQueue& mainQueue, Logger log, size_t lines, double windowSeconds)
    : mainQueue_(mainQueue),
      log_(std::move(log)),
      window_(windowSeconds),
      written_(lines == 0 ? 1 : lines, -std::numeric_limits<double>::infinity()) {}

bool LogBudget::freeSlot(double now, size_t keepFree) {
    // The slots are in the order they were written, oldest at next_: the free ones come first.
    size_t free = 0;
    while (free < written_.size() && now - written_[(next_ + free) % written_.size()] >= window_) ++free;
    if (free <= keepFree) return false;
    written_[next_] = now;
    next_ = (next_ + 1) % written_.size();
    return true;
}

bool LogBudget::take(size_t keepFree) {
    std::lock_guard lock(lock_);
    const double now = mainQueue_.now();
    if (freeSlot(now, keepFree)) return true;
    ++suppressed_;
    scheduleNote(now);
    return false;
}

void LogBudget::scheduleNote(double now) {
    if (notePending_) return;
    notePending_ = true;
    // A window after the first line left out, or once the oldest line written is a window old.
    const double delay = std::max(window_, written_[next_] + window_ - now);
    mainQueue_.postAfter(delay, guard_.wrap([this] { writeNote(); }));
}

void LogBudget::writeNote() {
    size_t count = 0;
    {
        std::lock_guard lock(lock_);
        notePending_ = false;
        if (!freeSlot(mainQueue_.now())) {
            scheduleNote(mainQueue_.now());
            return;
        }
        count = suppressed_;
        suppressed_ = 0;
    }
    log_.info(strprintf("%zu OSC log line(s) caused by unpaired senders were left out", count));
}

size_t LogBudget::suppressed() const {
    std::lock_guard lock(lock_);
    return suppressed_;
}

} // namespace orevant
