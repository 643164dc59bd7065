#pragma once
// A serial queue whose tasks run on the thread that calls run(), until stop(). The agent's main
// thread runs one as its main queue; ThreadTaskQueue runs one on a thread of its own.
//
// Threads: post, postAfter, stop, isCurrent and now from any thread; run() on the thread that
// is to carry the queue's tasks.
#include "platform/main_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orevant {

class RunLoopMainQueue final : public MainQueue {
public:
    RunLoopMainQueue();
    ~RunLoopMainQueue() override;
    RunLoopMainQueue(const RunLoopMainQueue&) = delete;
    RunLoopMainQueue& operator=(const RunLoopMainQueue&) = delete;

    TaskHandle post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    bool isCurrent() const override;
    // Seconds on the steady clock since the queue was made.
    double now() const override;

    // Runs tasks in order, each when due, until stop(). Returns at once when stop() came first.
    // Tasks still pending when it returns are dropped with the queue, never run.
    void run();
    // Lets the task that is running finish, then makes run() return. Idempotent.
    void stop();
    bool isStopped() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point due;
        uint64_t sequence;
        Task task;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    // Heap order: earliest due first, then posting order.
    static bool later(const Entry& a, const Entry& b);

    TaskHandle enqueue(Clock::time_point due, Task task);

    const Clock::time_point origin_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> heap_;
    uint64_t nextSequence_ = 0;
    bool stopped_ = false;
    std::atomic<std::thread::id> runner_{};
};

} // namespace orevant
