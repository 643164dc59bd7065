#include "ui/qt_main_queue.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <cmath>

namespace orevant {

QtMainQueue::QtMainQueue()
    : context_(std::make_unique<QObject>()),
      origin_(std::chrono::steady_clock::now()),
      thread_(std::this_thread::get_id()) {}

QtMainQueue::~QtMainQueue() = default;

TaskHandle QtMainQueue::post(Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        context_.get(),
        [task = std::move(task), cancelled] {
            if (!cancelled->load(std::memory_order_relaxed)) task();
        },
        Qt::QueuedConnection);
    return TaskHandle(cancelled);
}

TaskHandle QtMainQueue::postAfter(double seconds, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    if (isCurrent()) {
        startTimer(seconds, std::move(task), cancelled);
    } else {
        // Timers belong to the GUI thread: the delay starts there.
        QMetaObject::invokeMethod(
            context_.get(),
            [this, seconds, task = std::move(task), cancelled]() mutable {
                startTimer(seconds, std::move(task), cancelled);
            },
            Qt::QueuedConnection);
    }
    return TaskHandle(cancelled);
}

void QtMainQueue::startTimer(double seconds, Task task, std::shared_ptr<std::atomic<bool>> cancelled) {
    // As on the other queues, a delay that is no number runs at once.
    const double ms = std::isnan(seconds) ? 0.0 : std::clamp(seconds * 1000.0, 0.0, 2.0e9);
    QTimer::singleShot(static_cast<int>(std::ceil(ms)), Qt::PreciseTimer, context_.get(),
                       [task = std::move(task), cancelled] {
                           if (!cancelled->load(std::memory_order_relaxed)) task();
                       });
}

bool QtMainQueue::isCurrent() const { return std::this_thread::get_id() == thread_; }

double QtMainQueue::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
}

void QtMainQueue::run() { QCoreApplication::exec(); }

void QtMainQueue::stop() { QCoreApplication::quit(); }

} // namespace orevant
