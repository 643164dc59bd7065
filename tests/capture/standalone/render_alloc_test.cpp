// The render path allocates nothing and takes no lock: this binary counts every allocation and
// lock made on the test thread while the render body runs.
#include "../capture_fixture.h"
#include "capture/process_tap.h"
#include "support/allocation_counter.h"

#include <gtest/gtest.h>

OREVANT_COUNTING_ALLOCATOR()

namespace orevant {
namespace {

using test::Buffers;
using test::FakeLane;
namespace alloc = test::alloc;

class RenderAllocTest : public test::SimFixture {};

TEST_F(RenderAllocTest, TenThousandCyclesAllocateNothingAndLockNothing) {
    ASSERT_TRUE(alloc::countsWhatItShould());
    auto lane = std::make_shared<FakeLane>();
    ProcessTap general(server, {process}, 0.5f, false, 1.0f, lane);
    general.start({out(speakers), out(headset)});
    ProcessTap paired(server, {process}, 0.5f, false, 0.8f, lane);
    paired.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    general.setRecordsToMain(true);
    paired.setRecordsToMain(true);
    lane->arm(1, 0);

    Buffers in, twoOuts, eight;
    in.add(1, 512, 0.1f).addStereo(512, 0.5f, -0.5f);
    twoOuts.add(2, 512).add(2, 512);
    eight.add(8, 512);
    size_t allocations = 0, locks = 0;
    {
        // Counted from the first cycle: the diagnostics of the first 2500 cycles are only captured.
        const alloc::CountingScope counting;
        for (int i = 0; i < 10000; ++i) {
            // Keep the gains ramping, switch modes, mute, panic: every branch of the body runs.
            const float v = static_cast<float>(i % 100) / 100.0f;
            general.setVolume(v);
            paired.setVolume(1.0f - v);
            paired.setPhonesMode(static_cast<PhonesMode>(i % 3));
            general.setMuted(i % 250 == 7);
            paired.setPanicked(i % 500 > 480);
            general.render(in.list(), twoOuts.list());
            paired.render(in.list(), eight.list());
            (void)general.takePeak();
            (void)paired.takePeak();
        }
        allocations = alloc::allocations;
        locks = alloc::locks;
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(locks, 0u);
    EXPECT_TRUE(general.diagLogged());     // the diagnostics were captured along the way
    EXPECT_GT(lane->writeCount(), 10000u); // and the lane fed
}

} // namespace
} // namespace orevant
