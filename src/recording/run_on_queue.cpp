#include "recording/run_on_queue.h"

#include <future>

namespace orevant {

void runOnQueueAndWait(TaskQueue& queue, const std::function<void()>& work) {
    if (queue.isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    queue.post([&work, &done] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}

} // namespace orevant
