#include "engine/mixer_engine.h"

#include "remote/osc_listener.h"
#include "support/counting_companion_bridge.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::CountingCompanionBridge;
using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;

class MixerEnginePanicMetersTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
};

// Faults: an application that starts during a panic is heard; settings changed by a panic; the
// release jumps back instead of ramping, or keeps the taps it made.
TEST_F(MixerEnginePanicMetersTest, PanicSilencesEveryAppAndReleaseRampsBackThenDropsTaps) {
    MixerEngine& engine = world.startEngine();
    int notifications = 0;
    auto token = engine.addObserver([&] { ++notifications; });
    engine.setPanicked(true);
    EXPECT_GE(notifications, 1);
    EXPECT_EQ(engine.taps().size(), 2u);
    world.runAudio(0.3);
    EXPECT_LT(world.peak(speakers, 0), 0.001f);
    EXPECT_TRUE(engine.volumes().empty()) << "settings are not touched";
    notifications = 0;
    engine.setPanicked(true);
    EXPECT_EQ(notifications, 0) << "twice: nothing happens";

    // Listed before the next audio cycle, as if it had started between two: silent from its first sample.
    SimApp late = world.addApp("com.example.late", "Late", 770.0);
    world.queue.runUntilIdle();
    world.advance(0.15);
    ASSERT_NE(engine.tap(late.bundleID), nullptr);
    world.runAudio(0.2);
    EXPECT_LT(world.peak(speakers, 0, 0.2), 0.001f);

    engine.setPanicked(false);
    world.runAudio(0.25);
    EXPECT_EQ(engine.taps().size(), 3u);
    EXPECT_NEAR(world.rms(speakers, 0, 0.1), std::sqrt(3.0f) * kSineRMS, 0.04) << "ramped back while the taps live";
    world.runAudio(0.1);
    EXPECT_TRUE(engine.taps().empty());
}

// Faults: meters that never reach the phone, frames sent while nothing is audible or with no
// phone, no final silent frame, a meter clock that keeps ticking with no tap.
TEST_F(MixerEnginePanicMetersTest, MeterFramesReachThePhoneWhileAudibleThenTheClockSleeps) {
    auto owned = std::make_unique<CountingCompanionBridge>();
    CountingCompanionBridge& sent = *owned;
    world.makeEngine().setCompanionBridge(std::move(owned));
    world.audio.setPlaying(video.process, false);
    MixerEngine& engine = world.startEngine();
    ASSERT_TRUE(engine.taps().empty());
    EXPECT_LE(world.queue.advance(1.0), 3u) << "asleep: a second runs no meter tick";

    engine.setVolume(0.9f, world.app(music));
    world.runAudio(0.5);
    EXPECT_TRUE(sent.meterFrames.empty()) << "no phone, no frames";
    EXPECT_NEAR(engine.meterLevels().at(music.bundleID), 0.5f * 0.729f, 0.01f) << "the level heard, after the gain";

    engine.oscListener().onIPhoneConnected(NetworkEndpoint{"127.0.0.1", 50123});
    world.runAudio(1.0);
    EXPECT_GE(sent.meterFrames.size(), 9u);
    EXPECT_LE(sent.meterFrames.size(), 11u);
    EXPECT_GT(sent.meterFrames.back().at(music.bundleID), 0.3f);

    // The last tap goes: the meters empty, the phone gets its all-silent frame, the clock sleeps.
    world.removeApp(music);
    world.runAudio(1.0);
    ASSERT_TRUE(engine.taps().empty());
    EXPECT_TRUE(engine.meterLevels().empty());
    ASSERT_FALSE(sent.meterFrames.empty());
    EXPECT_TRUE(sent.meterFrames.back().empty());
    const size_t frames = sent.meterFrames.size();
    EXPECT_LE(world.queue.advance(1.0), 3u);
    EXPECT_EQ(sent.meterFrames.size(), frames);
}

} // namespace
} // namespace orevant
