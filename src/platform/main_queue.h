#pragma once
// The main queue: the one serial queue that carries all model state.
#include <atomic>
#include <functional>
#include <memory>

namespace orevant {

// Handle of a posted task. Cancelling is idempotent and may happen from any thread; a task
// cancelled before it starts never runs. A default-constructed handle refers to no task.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
    void cancel() const {
        if (cancelled_) cancelled_->store(true, std::memory_order_relaxed);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(std::memory_order_relaxed); }
    bool isValid() const { return cancelled_ != nullptr; }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

class MainQueue {
public:
    using Task = std::function<void()>;
    virtual ~MainQueue() = default;

    // Any thread. Runs `task` on the main queue after everything posted before it.
    virtual TaskHandle post(Task task) = 0;
    // Any thread. Runs `task` on the main queue once `seconds` have passed on the queue's clock.
    virtual TaskHandle postAfter(double seconds, Task task) = 0;
    // Any thread. True when called from the thread that runs the main queue's tasks.
    virtual bool isCurrent() const = 0;
    // Any thread. The queue's monotonic clock in seconds (virtual in tests).
    virtual double now() const = 0;
};

// Every serial queue of the system (main queue, writer queues) shares this interface; only the
// main queue carries model state.
using TaskQueue = MainQueue;

} // namespace orevant
