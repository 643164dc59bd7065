// Taps torn down while their IO thread is running, with the simulated server's real-time clock
// driving cycles. Meant to be run under ThreadSanitizer as well (scripts/ci.d/tsan-capture.sh).
#include "../capture_fixture.h"
#include "capture/process_tap.h"

#include <gtest/gtest.h>

#include <thread>

namespace orevant {
namespace {

using test::FakeLane;
using test::SimFixture;

class TapTeardownTest : public SimFixture {
protected:
    ~TapTeardownTest() override { audio().stopClock(); }

    // Waits (without a clock of its own) until the tap's IO procedure has run `cycles` times.
    static void waitForCycles(const ProcessTap& tap, uint64_t cycles) {
        while (tap.renderCount() < cycles) std::this_thread::yield();
    }
};

TEST_F(TapTeardownTest, DestroyAndStopWhileIORuns) {
    audio().startClock();
    auto lane = std::make_shared<FakeLane>();
    lane->arm(1, 0);
    for (int i = 0; i < 12; ++i) {
        auto tap = std::make_unique<ProcessTap>(server, std::vector<AudioObjectID>{process}, 0.5f, false, 1.0f, lane);
        if (i % 3 == 0)
            tap->start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
        else
            tap->start({out(speakers), out(headset)});
        tap->setRecordsToMain(true);
        waitForCycles(*tap, 2);
        // Parameters change from this thread while the IO thread reads them.
        tap->setVolume(static_cast<float>(i) / 12.0f);
        tap->setMuted(i % 4 == 1);
        tap->setPanicked(i % 5 == 2);
        tap->setPhonesMode(static_cast<PhonesMode>(i % 3));
        (void)tap->takePeak();
        tap->logDiagnostics(); // the main queue reads what the IO thread captured, while it runs
        const uint64_t seen = tap->renderCount();
        if (i % 2 == 0) {
            tap->stop();
            const uint64_t after = tap->renderCount();
            EXPECT_GE(after, seen);
            // Stopped: later cycles of the server never reach it.
            const uint64_t cycle = audio().cycleCount();
            while (audio().cycleCount() < cycle + 2) std::this_thread::yield();
            EXPECT_EQ(tap->renderCount(), after);
        }
        tap.reset(); // destruction with IO running (odd rounds) or already stopped (even)
    }
    audio().stopClock();
    EXPECT_TRUE(audio().liveTaps().empty());
    EXPECT_TRUE(audio().liveAggregates().empty());
    EXPECT_GT(lane->writeCount(), 0u);
}

} // namespace
} // namespace orevant
