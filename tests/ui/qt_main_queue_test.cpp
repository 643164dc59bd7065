#include "ui/qt_main_queue.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace orevant {
namespace {

void runPosted() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Tasks from any thread run on the GUI thread in posting order; a cancelled one never runs.
TEST(QtMainQueueTest, RunsPostedTasksInOrderOnTheGuiThreadAndSkipsCancelledOnes) {
    QtMainQueue queue;
    std::vector<int> ran;
    std::vector<bool> onGuiThread;
    auto task = [&](int n) {
        return [&, n] {
            ran.push_back(n);
            onGuiThread.push_back(queue.isCurrent());
        };
    };
    queue.post(task(1));
    queue.post(task(2)).cancel();
    queue.postAfter(0.0, task(3));
    queue.postAfter(0.0, task(4)).cancel();
    queue.postAfter(std::nan(""), task(7)); // a delay that is no number runs at once, not never
    std::thread other([&] {
        EXPECT_FALSE(queue.isCurrent());
        queue.post(task(5));
        queue.postAfter(0.0, task(6));
    });
    other.join();
    runPosted();
    // Posts keep their order; the timers run once due, wherever they were posted from.
    std::vector<int> sorted = ran;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<int>{1, 3, 5, 6, 7}));
    EXPECT_LT(std::find(ran.begin(), ran.end(), 1), std::find(ran.begin(), ran.end(), 5));
    EXPECT_EQ(onGuiThread, std::vector<bool>(ran.size(), true));
}

} // namespace
} // namespace orevant
