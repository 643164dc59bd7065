#include "platform/run_loop_main_queue.h"

#include <algorithm>
#include <cmath>

namespace orevant {

RunLoopMainQueue::RunLoopMainQueue() : origin_(Clock::now()) {}

RunLoopMainQueue::~RunLoopMainQueue() { stop(); }

bool RunLoopMainQueue::later(const Entry& a, const Entry& b) {
    if (a.due != b.due) return a.due > b.due;
    return a.sequence > b.sequence;
}

TaskHandle RunLoopMainQueue::enqueue(Clock::time_point due, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex_);
        heap_.push_back(Entry{due, nextSequence_++, std::move(task), cancelled});
        std::push_heap(heap_.begin(), heap_.end(), later);
    }
    wake_.notify_one();
    return TaskHandle(cancelled);
}

TaskHandle RunLoopMainQueue::post(Task task) { return enqueue(Clock::now(), std::move(task)); }

TaskHandle RunLoopMainQueue::postAfter(double seconds, Task task) {
    // NaN and negative delays mean "now"; absurdly long ones are clamped to a year rather than
    // overflowing the clock.
    const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, 365.0 * 86400.0);
    const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(clamped));
    return enqueue(Clock::now() + delay, std::move(task));
}

bool RunLoopMainQueue::isCurrent() const { return runner_.load() == std::this_thread::get_id(); }

double RunLoopMainQueue::now() const { return std::chrono::duration<double>(Clock::now() - origin_).count(); }

void RunLoopMainQueue::run() {
    runner_.store(std::this_thread::get_id());
    std::unique_lock lock(mutex_);
    while (!stopped_) {
        if (heap_.empty()) {
            wake_.wait(lock);
            continue;
        }
        if (heap_.front().cancelled->load(std::memory_order_relaxed)) {
            std::pop_heap(heap_.begin(), heap_.end(), later);
            heap_.pop_back();
            continue;
        }
        const auto due = heap_.front().due;
        if (due > Clock::now()) {
            wake_.wait_until(lock, due);
            continue;
        }
        std::pop_heap(heap_.begin(), heap_.end(), later);
        Entry entry = std::move(heap_.back());
        heap_.pop_back();
        lock.unlock();
        if (!entry.cancelled->load(std::memory_order_relaxed)) entry.task();
        // The task's captures are released here, outside the lock, so a destructor may post.
        entry.task = nullptr;
        lock.lock();
    }
    lock.unlock();
    runner_.store(std::thread::id{});
}

void RunLoopMainQueue::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

bool RunLoopMainQueue::isStopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

} // namespace orevant
