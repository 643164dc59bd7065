#pragma once
// Runs work on a serial task queue and waits for it to finish. Called off that queue (the main
// queue); when the caller already runs the queue's tasks (a stepped queue in tests, or a task of
// the queue itself) the work runs inline, which keeps the queue's one-at-a-time order.
#include "platform/main_queue.h"

#include <functional>

namespace orevant {

void runOnQueueAndWait(TaskQueue& queue, const std::function<void()>& work);

} // namespace orevant
