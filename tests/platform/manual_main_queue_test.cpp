#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace orevant;

TEST(ManualMainQueueTest, RunsEachTaskAtItsOwnVirtualTimeOnTheDrivingThread) {
    ManualMainQueue queue;
    std::vector<std::pair<int, double>> ran;
    queue.postAfter(2.0, [&] { ran.emplace_back(3, queue.now()); });
    queue.postAfter(0.4, [&] {
        ran.emplace_back(2, queue.now());
        queue.postAfter(0.4, [&] { ran.emplace_back(4, queue.now()); }); // due at 0.8
    });
    queue.post([&] { ran.emplace_back(1, queue.now()); });
    EXPECT_EQ(queue.pendingCount(), 3u);
    EXPECT_DOUBLE_EQ(queue.nextDueTime(), 0.0);

    EXPECT_EQ(queue.runUntilIdle(), 1u);
    EXPECT_EQ(queue.advance(1.0), 2u);
    EXPECT_DOUBLE_EQ(queue.now(), 1.0);
    EXPECT_TRUE(queue.advanceToNext());
    EXPECT_DOUBLE_EQ(queue.now(), 2.0);
    EXPECT_FALSE(queue.advanceToNext());
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[0], std::make_pair(1, 0.0));
    EXPECT_EQ(ran[1], std::make_pair(2, 0.4));
    EXPECT_EQ(ran[2].first, 4);
    EXPECT_NEAR(ran[2].second, 0.8, 1e-9);
    EXPECT_EQ(ran[3], std::make_pair(3, 2.0));
    EXPECT_DOUBLE_EQ(queue.hostClock().seconds(), 2.0);

    // A task posted from another thread runs on the driving thread.
    bool onDriver = false;
    std::thread other([&] {
        EXPECT_FALSE(queue.isCurrent());
        queue.post([&] { onDriver = queue.isCurrent(); });
    });
    other.join();
    EXPECT_EQ(queue.runUntilIdle(), 1u);
    EXPECT_TRUE(onDriver);
}

TEST(ManualMainQueueTest, EqualTimesKeepPostingOrderAndCancelledTasksNeverRun) {
    ManualMainQueue queue;
    std::vector<int> order;
    queue.postAfter(1.0, [&] { order.push_back(1); });
    TaskHandle cancelled = queue.postAfter(1.0, [&] { order.push_back(99); });
    queue.postAfter(1.0, [&] { order.push_back(2); });
    cancelled.cancel();
    EXPECT_EQ(queue.pendingCount(), 2u);
    queue.advance(0.999);
    EXPECT_TRUE(order.empty());
    queue.advance(0.001);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    // Odd delays: NaN and negative run now; an infinite delay does not overflow the clock.
    queue.postAfter(-1.0, [&] { order.push_back(3); });
    queue.postAfter(std::numeric_limits<double>::quiet_NaN(), [&] { order.push_back(4); });
    queue.postAfter(std::numeric_limits<double>::infinity(), [&] { order.push_back(5); });
    queue.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_GT(queue.nextDueTime(), queue.now());
}
