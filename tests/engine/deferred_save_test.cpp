#include "engine/deferred_save.h"

#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace orevant {
namespace {

// Changes that never pause must not hold the save back for ever, nor write more than once per
// 0.4 s; one key's later request replaces its earlier one.
TEST(DeferredSaveTest, SteadyChangesAreWrittenEveryTwoSecondsAndAPauseWritesOnce) {
    ManualMainQueue queue;
    DeferredSave save(queue);
    std::vector<double> writes;
    std::vector<int> values;
    for (int i = 0; i < 50; ++i) { // a change every 0.1 s for 5 s
        save.request("key", [&, i] {
            writes.push_back(queue.now());
            values.push_back(i);
        });
        queue.advance(0.1);
    }
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_NEAR(writes[0], 2.0, 1e-9);
    EXPECT_NEAR(writes[1], 4.0, 1e-9);
    queue.advance(0.4);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values.back(), 49);
    EXPECT_FALSE(save.isPending());
}

} // namespace
} // namespace orevant
