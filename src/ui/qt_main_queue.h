#pragma once
// The main queue of the desktop run: tasks run on the Qt event loop of the GUI thread, so the
// engine's main-thread rules hold with the windows on that same thread.
//
// Threads: post, postAfter, isCurrent and now from any thread; made, run and stopped on the GUI
// thread after the QApplication exists.
#include "platform/main_queue.h"

#include <chrono>
#include <memory>
#include <thread>

class QObject;

namespace orevant {

class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    TaskHandle post(Task task) override;
    TaskHandle postAfter(double seconds, Task task) override;
    bool isCurrent() const override;
    // Seconds on the steady clock since the queue was made.
    double now() const override;

    // Carries the event loop until stop(). Tasks still pending then are dropped.
    void run();
    void stop();

private:
    void startTimer(double seconds, Task task, std::shared_ptr<std::atomic<bool>> cancelled);

    std::unique_ptr<QObject> context_;
    const std::chrono::steady_clock::time_point origin_;
    const std::thread::id thread_;
};

} // namespace orevant
