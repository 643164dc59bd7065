#pragma once
// A serial queue that owns its thread: tasks run there in order, delayed ones on the steady
// clock. Used for the writer queues ("com.brenlake.orevant.recorder"), the volume write queues
// and the OSC queue.
//
// Threads: post, postAfter, isCurrent and now from any thread; stop() and the destructor from
// any thread but the queue's own.
#include "platform/main_queue.h"

#include <memory>
#include <string>
#include <thread>

namespace orevant {

class RunLoopMainQueue;

class ThreadTaskQueue final : public MainQueue {
public:
    explicit ThreadTaskQueue(std::string label);
    // Stops: see stop().
    ~ThreadTaskQueue() override;
    ThreadTaskQueue(const ThreadTaskQueue&) = delete;
    ThreadTaskQueue& operator=(const ThreadTaskQueue&) = delete;

    TaskHandle post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    bool isCurrent() const override;
    double now() const override;

    // Lets the running task finish and joins the thread; pending tasks never run. Idempotent.
    // Called from the queue's own thread (a task dropping the last owner), it asks the loop to
    // end after that task and lets the thread finish on its own.
    void stop();

    // True once stop() was called.
    bool isStopped() const;
    const std::string& label() const { return label_; }

private:
    std::string label_;
    std::shared_ptr<RunLoopMainQueue> loop_; // shared with the thread, which may outlive us
    std::thread thread_;
};

} // namespace orevant
