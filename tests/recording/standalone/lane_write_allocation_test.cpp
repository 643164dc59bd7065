// The render-side calls of a recording lane never allocate nor lock: this binary counts every
// allocation and lock made on the test thread while they run.
#include "platform/manual_main_queue.h"
#include "recording/recording_lane.h"
#include "recording/recording_test_support.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <vector>

OREVANT_COUNTING_ALLOCATOR()

namespace orevant {
namespace {

namespace alloc = test::alloc;

TEST(LaneWriteAllocationTest, RenderSideCallsAllocateNothingAndLockNothing) {
    ASSERT_TRUE(alloc::countsWhatItShould());
    ManualMainQueue queue;
    RecordingLane lane("Player", queue.hostClock(), queue, std::make_unique<test::SharedQueueRef>(queue));
    lane.startCapture(queue.hostClock().ticks(), 48000.0);

    std::vector<float> stereo(512 * 2, 0.5f), quad(512 * 4, -0.25f), mono(512, 0.125f);
    int64_t cursor = 0, taken = 0;
    size_t allocations = 0, locks = 0;
    {
        const alloc::CountingScope counting;
        for (int cycle = 0; cycle < 2000; ++cycle) {
            // Wrap around the ring several times, in every channel layout.
            taken += lane.write(stereo.data(), 512 * 2 * 4, 2, 0, cursor);
            taken += lane.write(quad.data(), 512 * 4 * 4, 4, 2, cursor);
            taken += lane.write(mono.data(), 512 * 4, 1, 0, cursor);
            cursor += 512;
            taken += lane.currentFrame() + lane.armed() + lane.generation() - lane.currentFrame() - 1 - 1;
        }
        allocations = alloc::allocations;
        locks = alloc::locks;
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(locks, 0u);
    EXPECT_EQ(taken, 2000 * 3 * 512); // every write was taken, so the ring path did run
    lane.stopCapture();
}

} // namespace
} // namespace orevant
