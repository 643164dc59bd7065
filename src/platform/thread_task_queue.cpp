#include "platform/thread_task_queue.h"

#include "platform/run_loop_main_queue.h"

#include <pthread.h>

namespace orevant {

ThreadTaskQueue::ThreadTaskQueue(std::string label)
    : label_(std::move(label)), loop_(std::make_shared<RunLoopMainQueue>()) {
    // Thread names are limited to 15 bytes; the end of a reverse-DNS label tells most.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    thread_ = std::thread([loop = loop_, name = std::move(name)] {
        pthread_setname_np(pthread_self(), name.c_str());
        loop->run();
    });
}

ThreadTaskQueue::~ThreadTaskQueue() { stop(); }

TaskHandle ThreadTaskQueue::post(Task task) { return loop_->post(std::move(task)); }

TaskHandle ThreadTaskQueue::postAfter(double seconds, Task task) { return loop_->postAfter(seconds, std::move(task)); }

bool ThreadTaskQueue::isCurrent() const { return loop_->isCurrent(); }

double ThreadTaskQueue::now() const { return loop_->now(); }

bool ThreadTaskQueue::isStopped() const { return loop_->isStopped(); }

void ThreadTaskQueue::stop() {
    loop_->stop();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

} // namespace orevant
