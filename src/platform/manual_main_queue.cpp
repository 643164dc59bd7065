#include "platform/manual_main_queue.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orevant {

namespace {
// NaN and negative delays mean "now"; a delay beyond a year is held at a year.
int64_t toNanos(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<int64_t>(std::llround(std::min(seconds, 365.0 * 86400.0) * 1e9));
}
} // namespace

ManualMainQueue::ManualMainQueue() : owner_(std::this_thread::get_id()) {}

TaskHandle ManualMainQueue::enqueue(int64_t dueNanos, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(Entry{dueNanos, nextSequence_++, std::move(task), cancelled});
    }
    posted_.notify_all();
    return TaskHandle(cancelled);
}

bool ManualMainQueue::runUntil(const std::function<bool()>& condition, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (;;) {
        runUntilIdle();
        if (condition()) return true;
        std::unique_lock lock(mutex_);
        const int64_t now = nowNanos_.load(std::memory_order_relaxed);
        const auto due = [&] {
            return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.dueNanos <= now; });
        };
        if (!posted_.wait_until(lock, deadline, due)) return false;
    }
}

TaskHandle ManualMainQueue::post(Task task) {
    return enqueue(nowNanos_.load(std::memory_order_relaxed), std::move(task));
}

TaskHandle ManualMainQueue::postAfter(double seconds, Task task) {
    return enqueue(nowNanos_.load(std::memory_order_relaxed) + toNanos(seconds), std::move(task));
}

bool ManualMainQueue::isCurrent() const { return std::this_thread::get_id() == owner_.load(); }

double ManualMainQueue::now() const { return static_cast<double>(nowNanos_.load(std::memory_order_relaxed)) * 1e-9; }

bool ManualMainQueue::popDue(int64_t limitNanos, Entry& out) {
    std::lock_guard lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [](const Entry& e) { return e.cancelled->load(std::memory_order_relaxed); }),
                   entries_.end());
    auto best = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->dueNanos > limitNanos) continue;
        if (best == entries_.end() || it->dueNanos < best->dueNanos ||
            (it->dueNanos == best->dueNanos && it->sequence < best->sequence))
            best = it;
    }
    if (best == entries_.end()) return false;
    out = std::move(*best);
    entries_.erase(best);
    return true;
}

size_t ManualMainQueue::runUntilIdle() {
    owner_ = std::this_thread::get_id();
    size_t ran = 0;
    Entry entry;
    while (popDue(nowNanos_.load(std::memory_order_relaxed), entry)) {
        if (entry.cancelled->load(std::memory_order_relaxed)) continue;
        entry.task();
        ++ran;
    }
    return ran;
}

size_t ManualMainQueue::advance(double seconds) {
    owner_ = std::this_thread::get_id();
    const int64_t target = nowNanos_.load(std::memory_order_relaxed) + toNanos(seconds);
    size_t ran = runUntilIdle();
    Entry entry;
    while (popDue(target, entry)) {
        if (entry.dueNanos > nowNanos_.load(std::memory_order_relaxed))
            nowNanos_.store(entry.dueNanos, std::memory_order_relaxed);
        if (!entry.cancelled->load(std::memory_order_relaxed)) {
            entry.task();
            ++ran;
        }
    }
    nowNanos_.store(target, std::memory_order_relaxed);
    return ran + runUntilIdle();
}

bool ManualMainQueue::advanceToNext() {
    const double next = nextDueTime();
    if (next < 0) return false;
    advance(std::max(0.0, next - now()));
    return true;
}

size_t ManualMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) {
        return !e.cancelled->load(std::memory_order_relaxed);
    }));
}

double ManualMainQueue::nextDueTime() const {
    std::lock_guard lock(mutex_);
    int64_t best = -1;
    for (const auto& e : entries_) {
        if (e.cancelled->load(std::memory_order_relaxed)) continue;
        if (best < 0 || e.dueNanos < best) best = e.dueNanos;
    }
    return best < 0 ? -1.0 : static_cast<double>(best) * 1e-9;
}

} // namespace orevant
