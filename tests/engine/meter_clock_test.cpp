// The meter clock on its own: levels from peaks tick by tick, the frames the phone gets, and the
// clock's rate on the main queue's virtual time.
#include "engine/meter_clock.h"

#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

namespace orevant {
namespace {

TEST(MeterClockTest, LevelsAttackAtOnceAndReleaseByTheDecayPerTick) {
    ManualMainQueue queue;
    MeterClock meters(queue);
    EXPECT_TRUE(meters.tick({{"music", 0.5f}, {"loud", 1.8f}}, false).levelsChanged);
    EXPECT_EQ(meters.levels(), (MeterClock::Levels{{"music", 0.5f}, {"loud", 1.0f}})) << "full scale at most";

    for (int n = 1; n <= 10; ++n) meters.tick({{"music", 0.0f}}, false);
    EXPECT_NEAR(meters.levels().at("music"), 0.5f * std::pow(0.88f, 10.0f), 1e-6f) << "0.88 a tick";
    EXPECT_EQ(meters.levels().count("loud"), 0u) << "no tap, no level";
    meters.tick({{"music", 0.4f}}, false);
    EXPECT_FLOAT_EQ(meters.levels().at("music"), 0.4f) << "a new peak above the decayed level shows at once";

    // Settled at silence, a tick changes nothing (an idle mixer publishes nothing).
    MeterClock idle(queue);
    EXPECT_FALSE(idle.tick({}, false).levelsChanged) << "no taps";
    EXPECT_TRUE(idle.tick({{"quiet", 0.0f}}, false).levelsChanged) << "a new tap shows at 0";
    EXPECT_FALSE(idle.tick({{"quiet", 0.0f}}, false).levelsChanged);
}

TEST(MeterClockTest, ThePhoneGetsEveryThirdTickWhileAudibleAndOneSilentFrame) {
    ManualMainQueue queue;
    // Each row: the peak of one application on nine ticks, and on which ticks a frame goes out.
    const struct {
        const char* name;
        bool hasPhone;
        std::vector<float> peaks;
        std::vector<int> framesOnTicks;
    } cases[] = {
        {"no phone", false, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, {}},
        {"silent from the start", true, {0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
        {"audible", true, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, {3, 6, 9}},
        {"just below the threshold", true, {0.0009f, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
        {"at the threshold, then one silent frame", true, {0, 0, 0.001f, 0, 0, 0, 0, 0, 0}, {3, 6}},
    };
    for (const auto& c : cases) {
        MeterClock meters(queue);
        std::vector<int> frames;
        for (size_t i = 0; i < c.peaks.size(); ++i) {
            if (meters.tick({{"app", c.peaks[i]}}, c.hasPhone).frame) frames.push_back(static_cast<int>(i) + 1);
        }
        EXPECT_EQ(frames, c.framesOnTicks) << c.name;
    }
}

TEST(MeterClockTest, TicksThirtyTimesASecondUntilDestroyed) {
    ManualMainQueue queue;
    int ticks = 0;
    {
        MeterClock meters(queue);
        meters.start([&] { ++ticks; });
        queue.advance(1.0 + 0.001);
        EXPECT_EQ(ticks, 30);
        meters.start([&] { ticks += 100; }); // a second start replaces the first
        queue.advance((1.0 / 30));
        EXPECT_EQ(ticks, 130);
    }
    queue.advance(1.0);
    EXPECT_EQ(ticks, 130) << "nothing ticks once the clock is gone";
}

TEST(MeterClockTest, SleepsWithNoTapAndWakesOnItsPeriodAsIfItHadTicked) {
    ManualMainQueue queue;
    MeterClock meters(queue);
    std::map<std::string, float> peaks{{"app", 0.5f}};
    std::vector<double> frameTimes;
    int ticks = 0;
    meters.start([&] {
        ++ticks;
        if (meters.tick(peaks, true).frame) frameTimes.push_back(queue.now());
    });
    queue.advance(0.1 + 0.001);
    ASSERT_EQ(frameTimes.size(), 1u);

    // The tap goes: the levels empty, the phone gets one silent frame, then the clock sleeps.
    peaks.clear();
    queue.advance(0.2);
    EXPECT_EQ(frameTimes.size(), 2u);
    EXPECT_TRUE(meters.isAsleep());
    const int asleepAt = ticks;
    EXPECT_EQ(queue.advance(1.0 + (1.0 / 30)), 0u) << "nothing runs while it sleeps";
    EXPECT_EQ(ticks, asleepAt);

    // A tap: the next tick comes on the old period, and frames on every third tick counted from
    // the start, the slept ones included (31 of them here, not a multiple of three).
    peaks = {{"app", 0.5f}};
    meters.wake();
    EXPECT_FALSE(meters.isAsleep());
    const double next = std::ceil(queue.now() / (1.0 / 30)) * (1.0 / 30);
    EXPECT_NEAR(queue.nextDueTime(), next, 1e-6);
    queue.advance(0.2);
    ASSERT_GE(frameTimes.size(), 4u);
    for (double at : frameTimes) {
        const long tick = std::lround(at / (1.0 / 30));
        EXPECT_EQ(tick % 3, 0) << "frame at " << at;
    }
}

} // namespace
} // namespace orevant
