#pragma once
// A main queue driven by hand, with a virtual clock: tests advance time and run what is due.
// Tasks may be posted from any thread; they run only inside runDue / runUntilIdle / advance,
// on the thread that calls those.
#include "platform/host_clock.h"
#include "platform/main_queue.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orevant {

class ManualMainQueue final : public MainQueue {
public:
    ManualMainQueue();

    TaskHandle post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    bool isCurrent() const override;
    double now() const override;

    // Runs every task that is due now, including tasks those tasks post for now. Returns how
    // many ran.
    size_t runUntilIdle();
    size_t runDue() { return runUntilIdle(); }
    // Moves the clock forward by `seconds`, running every task due on the way at its own time.
    size_t advance(double seconds);
    // Integration tests with a real outside party (a daemon, a server): runs what is due, and
    // whatever other threads post, until `condition` holds; the virtual clock stays put. Waits
    // at most `timeoutSeconds` of real time for those posts; false when it ran out.
    bool runUntil(const std::function<bool()>& condition, double timeoutSeconds);
    // Moves the clock to the next pending task and runs what is due then; false if none.
    bool advanceToNext();
    // Number of tasks waiting (cancelled ones excluded).
    size_t pendingCount() const;
    // Time of the earliest pending task, or a negative value when none is pending.
    double nextDueTime() const;

    // A host clock that reads this queue's virtual time in nanoseconds.
    const HostClock& hostClock() const { return clock_; }

private:
    struct Entry {
        int64_t dueNanos;
        uint64_t sequence;
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    class Clock final : public HostClock {
    public:
        explicit Clock(const std::atomic<int64_t>& nanos) : nanos_(nanos) {}
        uint64_t ticks() const override { return static_cast<uint64_t>(nanos_.load(std::memory_order_relaxed)); }
        double secondsPerTick() const override { return 1e-9; }

    private:
        const std::atomic<int64_t>& nanos_;
    };

    TaskHandle enqueue(int64_t dueNanos, Task task);
    bool popDue(int64_t limitNanos, Entry& out);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<Entry> entries_;
    uint64_t nextSequence_ = 0;
    std::atomic<int64_t> nowNanos_{0};
    std::atomic<std::thread::id> owner_;
    Clock clock_{nowNanos_};
};

using ManualTaskQueue = ManualMainQueue;

} // namespace orevant
