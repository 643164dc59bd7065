// The serial queues that run on real threads. Every wait here is on a promise or a join, never
// on time; delays are checked only as lower bounds.
#include "platform/run_loop_main_queue.h"
#include "platform/thread_task_queue.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

using namespace orevant;

TEST(ThreadTaskQueueTest, RunsTasksInPostingOrderOnItsOwnThread) {
    ThreadTaskQueue queue("com.brenlake.orevant.recorder");
    EXPECT_FALSE(queue.isCurrent());
    std::vector<int> order;
    std::vector<bool> onQueue;
    std::promise<void> done;
    for (int i = 0; i < 100; ++i)
        queue.post([&, i] {
            order.push_back(i);
            onQueue.push_back(queue.isCurrent());
        });
    queue.post([&] { done.set_value(); });
    done.get_future().wait();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
    EXPECT_EQ(std::count(onQueue.begin(), onQueue.end(), true), 100);
}

TEST(ThreadTaskQueueTest, CancelledTasksNeverRunAndDelaysAreNotCutShort) {
    ThreadTaskQueue queue("com.brenlake.orevant.test");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    queue.post([released] { released.wait(); }); // holds the queue while we cancel
    bool cancelledRan = false;
    TaskHandle cancelled = queue.post([&] { cancelledRan = true; });
    TaskHandle far = queue.postAfter(3600, [&] { cancelledRan = true; });
    cancelled.cancel();
    far.cancel();
    EXPECT_TRUE(cancelled.isCancelled());

    const double postedAt = queue.now();
    std::promise<double> ranAt;
    queue.postAfter(0.02, [&] { ranAt.set_value(queue.now()); });
    release.set_value();
    EXPECT_GE(ranAt.get_future().get() - postedAt, 0.02);
    std::promise<void> drained;
    queue.post([&] { drained.set_value(); });
    drained.get_future().wait();
    EXPECT_FALSE(cancelledRan);
}

TEST(ThreadTaskQueueTest, StopLetsTheRunningTaskFinishAndDropsThePending) {
    ThreadTaskQueue queue("com.brenlake.orevant.test");
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    bool firstFinished = false, secondRan = false;
    queue.post([&, released] {
        started.set_value();
        released.wait();
        firstFinished = true;
    });
    queue.post([&] { secondRan = true; });
    started.get_future().wait();
    std::thread stopper([&] { queue.stop(); });
    while (!queue.isStopped()) std::this_thread::yield();
    release.set_value();
    stopper.join(); // stop() returned: the thread is joined
    EXPECT_TRUE(firstFinished);
    EXPECT_FALSE(secondRan);
    queue.stop(); // idempotent
    bool afterStop = false;
    queue.post([&] { afterStop = true; });
    EXPECT_FALSE(afterStop);
}

TEST(ThreadTaskQueueTest, MayBeDestroyedByItsOwnTask) {
    auto queue = std::make_unique<ThreadTaskQueue>("com.brenlake.orevant.test");
    std::promise<void> destroyed;
    queue->post([&] {
        queue.reset();
        destroyed.set_value();
    });
    destroyed.get_future().wait();
    EXPECT_EQ(queue, nullptr);
}

TEST(RunLoopMainQueueTest, RunsOnTheCallingThreadUntilStopped) {
    RunLoopMainQueue loop;
    EXPECT_FALSE(loop.isCurrent());
    std::vector<int> order;
    bool current = false, lateRan = false;
    std::thread poster([&] {
        loop.post([&] { order.push_back(1); });
        loop.postAfter(0.001, [&] {
            order.push_back(3);
            current = loop.isCurrent();
            loop.post([&] { lateRan = true; }); // still pending when the loop stops
            loop.stop();
            order.push_back(4); // the running task finishes
        });
        loop.post([&] { order.push_back(2); });
    });
    poster.join();
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(current);
    EXPECT_FALSE(lateRan);
    EXPECT_FALSE(loop.isCurrent());
    loop.run(); // stopped: returns at once
}
