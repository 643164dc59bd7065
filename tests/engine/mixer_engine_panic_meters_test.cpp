#include "engine/mixer_engine.h"

#include "engine/companion_bridge.h"
#include "remote/osc_listener.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;

// Records what the engine asks of the companion bridge.
class RecordingBridge final : public CompanionBridge {
public:
    void sendAppList() override { ++appLists; }
    void scheduleAppListSend() override { ++scheduledAppLists; }
    void sendMeters(const std::map<std::string, float>& levels) override { meterFrames.push_back(levels); }

    int appLists = 0;
    int scheduledAppLists = 0;
    std::vector<std::map<std::string, float>> meterFrames;
};

class MixerEnginePanicMetersTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    SimApp game = world.addApp("com.example.game", "Game", 330.0);
};

TEST_F(MixerEnginePanicMetersTest, PanicSilencesEveryAppAndReleaseRampsBackThenDropsTaps) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    world.runAudio(0.1);
    ASSERT_NEAR(world.rms(speakers, 0, 0.1), std::sqrt(3.0f) * kSineRMS, 0.03);
    int notifications = 0;
    auto token = engine.addObserver([&] { ++notifications; });

    engine.setPanicked(true);
    EXPECT_TRUE(engine.isPanicked());
    EXPECT_GE(notifications, 1);
    EXPECT_EQ(engine.taps().size(), 3u);
    EXPECT_TRUE(world.logs->contains("Panic engaged"));
    world.runAudio(0.3);
    EXPECT_LT(world.peak(speakers, 0), 0.001f);
    EXPECT_TRUE(engine.volumes().empty()) << "settings are not touched";

    // Twice: nothing happens, nothing is logged.
    world.logs->clear();
    notifications = 0;
    engine.setPanicked(true);
    EXPECT_EQ(notifications, 0);
    EXPECT_FALSE(world.logs->contains("Panic"));

    // An application that starts playing during a panic is silent from its first sample.
    // (The list is refreshed before the next audio cycle, as if it had started between two.)
    SimApp late = world.addApp("com.example.late", "Late", 770.0);
    world.queue.runUntilIdle();
    world.advance(0.15);
    ASSERT_NE(engine.tap(late.bundleID), nullptr);
    EXPECT_TRUE(engine.tap(late.bundleID)->panicked());
    world.runAudio(0.2);
    EXPECT_LT(world.peak(speakers, 0, 0.2), 0.001f);

    engine.setPanicked(false);
    EXPECT_TRUE(world.logs->contains("Panic released"));
    world.runAudio(0.25);
    EXPECT_EQ(engine.taps().size(), 4u);
    EXPECT_NEAR(world.rms(speakers, 0, 0.1), 2.0f * kSineRMS, 0.04) << "ramped back while the taps live";
    world.runAudio(0.1);
    EXPECT_TRUE(engine.taps().empty());
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(speakers, 0, 0.2), 2.0f * kSineRMS, 0.04);
}

TEST_F(MixerEnginePanicMetersTest, MetersFollowPeaksAndDecayPerTick) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    EXPECT_TRUE(engine.meterLevels().empty()) << "no taps, no levels";
    // Muted and unmuted: tapped at unity.
    for (const SimApp* app : {&music, &video}) {
        engine.toggleMute(world.app(*app));
        engine.toggleMute(world.app(*app));
    }

    world.runAudio(0.5);
    ASSERT_EQ(engine.meterLevels().size(), 2u);
    EXPECT_NEAR(engine.meterLevels().at(music.bundleID), 0.5f, 0.01f);
    EXPECT_NEAR(engine.meterLevels().at(video.bundleID), 0.5f, 0.01f);
    EXPECT_EQ(engine.meterLevels().count(game.bundleID), 0u);

    // The source stops: the level falls by 0.88 per tick.
    world.audio.setPlaying(music.process, false);
    world.runAudio(MixerEngine::kMeterIntervalSeconds); // the tick that still saw the last peak
    const float start = engine.meterLevels().at(music.bundleID);
    int ticks = 0; // every tick lowers the level: one change each
    auto token = engine.addObserver([&] { ++ticks; });
    world.advance(10 * MixerEngine::kMeterIntervalSeconds + 0.001);
    EXPECT_GE(ticks, 10);
    EXPECT_NEAR(engine.meterLevels().at(music.bundleID), start * std::pow(0.88f, static_cast<float>(ticks)), 1e-4f);
}

TEST_F(MixerEnginePanicMetersTest, PeakAboveFullScaleShowsAsOne) {
    SimApp loud = world.addApp("com.example.loud", "Loud", 200.0, 1.8f);
    world.startEngine();
    world.engine->toggleMute(world.app(loud));
    world.engine->toggleMute(world.app(loud));
    world.runAudio(0.3);
    EXPECT_FLOAT_EQ(world.engine->meterLevels().at(loud.bundleID), 1.0f);
}

TEST_F(MixerEnginePanicMetersTest, MeterFramesGoToPhoneOnlyWhileSomethingIsAudible) {
    auto bridge = std::make_unique<RecordingBridge>();
    RecordingBridge& sent = *bridge;
    world.makeEngine().setCompanionBridge(std::move(bridge));
    world.audio.setPlaying(music.process, false);
    world.audio.setPlaying(video.process, false);
    world.audio.setPlaying(game.process, false);
    world.startEngine();
    MixerEngine& engine = *world.engine;

    // No phone: no frames.
    engine.setVolume(0.9f, world.app(music));
    world.audio.setPlaying(music.process, true);
    world.runAudio(0.5);
    EXPECT_TRUE(sent.meterFrames.empty());

    // A phone, everything silent from the start: no frames at all.
    world.audio.setPlaying(music.process, false);
    world.runAudio(3.0);
    engine.oscListener().onIPhoneConnected(NetworkEndpoint{"127.0.0.1", 50123});
    world.runAudio(1.0);
    EXPECT_TRUE(sent.meterFrames.empty());

    // Audible: ten frames a second.
    world.audio.setPlaying(music.process, true);
    world.runAudio(1.0);
    EXPECT_GE(sent.meterFrames.size(), 9u);
    EXPECT_LE(sent.meterFrames.size(), 11u);
    EXPECT_GT(sent.meterFrames.back().at(music.bundleID), 0.3f);

    // Falling silent: frames while the level decays, then exactly one all-silent frame.
    world.audio.setPlaying(music.process, false);
    world.runAudio(3.0);
    const size_t frames = sent.meterFrames.size();
    ASSERT_FALSE(sent.meterFrames.empty());
    EXPECT_LT(sent.meterFrames.back().at(music.bundleID), 0.001f);
    EXPECT_GE(sent.meterFrames[frames - 2].at(music.bundleID), 0.001f);
    world.runAudio(2.0);
    EXPECT_EQ(sent.meterFrames.size(), frames);
}

TEST_F(MixerEnginePanicMetersTest, IdleMixerPublishesNoMeterChanges) {
    world.startEngine();
    int notifications = 0;
    auto token = world.engine->addObserver([&] { ++notifications; });
    world.runAudio(2.0);
    EXPECT_EQ(notifications, 0);
}

TEST_F(MixerEnginePanicMetersTest, MeterClockSleepsWhileNoTapExists) {
    auto bridge = std::make_unique<RecordingBridge>();
    RecordingBridge& sent = *bridge;
    world.makeEngine().setCompanionBridge(std::move(bridge));
    world.startEngine(); // every application at its default settings: no tap
    MixerEngine& engine = *world.engine;
    engine.oscListener().onIPhoneConnected(NetworkEndpoint{"127.0.0.1", 50123});
    ASSERT_TRUE(engine.taps().empty());
    world.queue.advance(0.5);
    EXPECT_LE(world.queue.advance(1.0), 3u) << "asleep: a second runs no meter tick";

    // The first tap wakes it.
    engine.setVolume(0.9f, world.app(music));
    world.runAudio(0.2);
    EXPECT_GT(engine.meterLevels().at(music.bundleID), 0.3f);
    EXPECT_FALSE(sent.meterFrames.empty());
    EXPECT_EQ(world.logs->count("SHAPE out["), 1u) << "a tick logs what the tap's IO thread captured";

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
