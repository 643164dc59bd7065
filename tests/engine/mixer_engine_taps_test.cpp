#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;
constexpr OSStatus kDenied = status::permissionDenied;

class MixerEngineTapsTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);

    size_t createCalls() { return world.server.audio().callCount(SimAudioEngine::Call::createProcessTap); }
};

TEST_F(MixerEngineTapsTest, AbsentRoutedDeviceFollowsDefaultUntilItReturns) {
    const AudioObjectID desk = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.addOutput(*engine.deviceMonitor().device("desk-uid"), world.app(music));
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(desk, 0), kSineRMS, 0.01);

    world.audio.removeDevice(desk);
    world.settle();
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs().front().uid, "speakers-uid");
    EXPECT_TRUE(engine.routeVolumes().empty());
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    const AudioObjectID returned = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    world.settle();
    EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs(),
              (std::vector<ProcessTap::Output>{{"desk-uid", returned}}));
    EXPECT_EQ(engine.routeVolumes().count("desk-uid"), 1u);
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(returned, 0), kSineRMS, 0.01);
    EXPECT_LT(world.peak(speakers, 0), 0.001f);
}

TEST_F(MixerEngineTapsTest, NewDefaultDeviceRebuildsDefaultRoutedTaps) {
    const AudioObjectID desk = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    world.setDefaultOutput(desk);
    world.settle();
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);
    EXPECT_EQ(world.engine->tap(music.bundleID)->activatedOutputs().front().uid, "desk-uid");
    EXPECT_EQ(world.server.audio().liveAggregates().size(), 1u);
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(desk, 0), kSineRMS * 0.125f, 0.004);
}

TEST_F(MixerEngineTapsTest, DeviceListChangeRefreshesBluetoothNowAndTwoSecondsLater) {
    world.startEngine();
    const int generation = world.engine->bluetooth().refreshGeneration();
    world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    world.queue.runUntilIdle();
    world.advance(0.01);
    EXPECT_EQ(world.engine->bluetooth().refreshGeneration(), generation + 1);
    world.advance(1.9);
    EXPECT_EQ(world.engine->bluetooth().refreshGeneration(), generation + 1);
    world.advance(0.2);
    EXPECT_EQ(world.engine->bluetooth().refreshGeneration(), generation + 2);
}

TEST_F(MixerEngineTapsTest, FailedTapIsRetriedAfterOneThreeSevenAndFifteenSeconds) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    world.server.audio().injectFailure(SimAudioEngine::Call::createProcessTap, kDenied);
    const size_t before = createCalls();
    engine.setVolume(0.5f, world.app(music));
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    EXPECT_TRUE(engine.needsAudioCapturePermission());
    EXPECT_TRUE(engine.isRetryingTaps());
    EXPECT_TRUE(world.logs->contains("Tap failed for com.example.music: "));
    EXPECT_EQ(createCalls(), before + 1);
    const double failedAt = world.queue.now();

    // Nothing else would make a tap meanwhile (the watchdog has none to look at).
    std::vector<double> attempts;
    for (int i = 0; i < 20 * 100; ++i) {
        const size_t calls = createCalls();
        world.advance(0.01);
        if (createCalls() != calls) attempts.push_back(world.queue.now() - failedAt);
    }
    ASSERT_EQ(attempts.size(), 4u);
    EXPECT_NEAR(attempts[0], 1.0, 0.011);
    EXPECT_NEAR(attempts[1], 3.0, 0.011);
    EXPECT_NEAR(attempts[2], 7.0, 0.011);
    EXPECT_NEAR(attempts[3], 15.0, 0.011);
    EXPECT_FALSE(engine.isRetryingTaps());
    EXPECT_TRUE(engine.needsAudioCapturePermission());
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01) << "the application keeps playing unaltered";
}

TEST_F(MixerEngineTapsTest, RetrySucceedsOnceAccessIsGranted) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    world.server.audio().injectFailure(SimAudioEngine::Call::createProcessTap, kDenied, 2);
    engine.setVolume(0.5f, world.app(music));
    world.advance(1.0); // first retry fails too
    EXPECT_TRUE(engine.needsAudioCapturePermission());
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    world.advance(2.0); // second retry succeeds
    EXPECT_FALSE(engine.needsAudioCapturePermission());
    EXPECT_FALSE(engine.isRetryingTaps());
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS * 0.125f, 0.004);
    const size_t calls = createCalls();
    world.advance(20.0);
    EXPECT_EQ(createCalls(), calls) << "no retry after success";
}

TEST_F(MixerEngineTapsTest, WatchdogRebuildsTapThatNeverRenderedOnSecondCheck) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.setVolume(0.5f, world.app(music));
    const ProcessTap* first = engine.tap(music.bundleID);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->renderCount(), 0u);
    const size_t calls = createCalls();
    // No audio cycles: the tap's IO never runs while its process reports output. The start
    // settled 0.15 s in; the watchdog checks at 2 s and 4 s.
    world.advance(2.0);
    EXPECT_EQ(createCalls(), calls) << "first strike only";
    EXPECT_FALSE(world.logs->contains("Watchdog:"));
    world.advance(2.0);
    EXPECT_EQ(createCalls(), calls + 1);
    EXPECT_TRUE(world.logs->contains(
        "Watchdog: tap for com.example.music never rendered while its process outputs — rebuilding"));
    ASSERT_NE(engine.tap(music.bundleID), nullptr);

    // A tap that renders is never rebuilt.
    world.runAudio(10.0);
    EXPECT_EQ(createCalls(), calls + 1);
}

TEST_F(MixerEngineTapsTest, ATapWhoseAggregateDiesIsRebuiltAtOnce) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.setVolume(0.5f, world.app(music));
    world.runAudio(0.2);
    const AudioObjectID first = engine.tap(music.bundleID)->aggregateID();
    const size_t calls = createCalls();
    // The server reports the aggregate dead (its path broke) while every device stays listed.
    world.server.setValue<uint32_t>(first, sel::deviceIsAlive, scope::global, 0);
    world.queue.runUntilIdle();
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(createCalls(), calls + 1) << "rebuilt without waiting for the watchdog";
    EXPECT_NE(engine.tap(music.bundleID)->aggregateID(), first);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0), 0.125f * kSineRMS, 0.002f);
}

TEST_F(MixerEngineTapsTest, WatchdogLeavesTapOfSilentProcessAlone) {
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    world.audio.setPlaying(music.process, false);
    const size_t calls = createCalls();
    world.advance(9.0);
    EXPECT_EQ(createCalls(), calls);
    EXPECT_FALSE(world.logs->contains("Watchdog:"));
}

TEST_F(MixerEngineTapsTest, CoverageDropDoesNothingWhileCuePanicOrPairedDevice) {
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    world.startEngine();
    MixerEngine& engine = *world.engine;

    // Panic: taps for both; on release they live on for 0.3 s, then go.
    engine.setPanicked(true);
    EXPECT_EQ(engine.taps().size(), 2u);
    engine.setPanicked(false);
    world.runAudio(0.25);
    EXPECT_EQ(engine.taps().size(), 2u);
    world.runAudio(0.1);
    EXPECT_TRUE(engine.taps().empty());

    // A drop that finds panic engaged keeps the taps.
    engine.setPanicked(true);
    engine.setPanicked(false);
    engine.setPanicked(true); // cancels the pending drop
    world.runAudio(1.0);
    EXPECT_EQ(engine.taps().size(), 2u);
    engine.setPanicked(false);
    world.runAudio(1.0);
    EXPECT_TRUE(engine.taps().empty());

    // A drop that finds a paired default device keeps the taps.
    const AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    world.settle();
    world.setDefaultOutput(interface);
    world.settle();
    ASSERT_TRUE(engine.isPaired());
    engine.setPanicked(true);
    engine.setPanicked(false); // the release schedules a coverage drop
    world.runAudio(1.0);
    EXPECT_EQ(engine.taps().size(), 2u);

    // A drop that finds a cue keeps the taps even where nothing is paired any more.
    engine.setCue(true, music.bundleID);
    world.setDefaultOutput(speakers);
    world.settle();
    engine.setPanicked(true);
    engine.setPanicked(false);
    world.runAudio(1.0);
    EXPECT_EQ(engine.taps().size(), 2u) << "a cue holds every tap";
    engine.setCue(false, music.bundleID);
    world.runAudio(1.0);
    EXPECT_TRUE(engine.taps().empty());
}

TEST_F(MixerEngineTapsTest, CoverageDropKeepsTapsDuringAutomaticRecording) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.setIsAutoRec(true);
    EXPECT_EQ(world.defaults.boolean("autoRec"), true);
    ASSERT_NE(engine.tap(music.bundleID), nullptr) << "every playing application is tapped";
    engine.setPanicked(true);
    engine.setPanicked(false);
    world.runAudio(1.0);
    EXPECT_NE(engine.tap(music.bundleID), nullptr) << "a recording keeps its sources";

    engine.setIsAutoRec(false);
    EXPECT_EQ(world.defaults.boolean("autoRec"), false);
    engine.setPanicked(true);
    engine.setPanicked(false); // the release schedules a coverage drop
    world.runAudio(1.0);
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
}

TEST_F(MixerEngineTapsTest, SettingBackToDefaultIsReleasedByLaterCoverageDrop) {
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.setVolume(0.4f, world.app(music));
    engine.setVolume(1.0f, world.app(music));
    world.runAudio(1.0);
    EXPECT_NE(engine.tap(music.bundleID), nullptr);
    engine.setPanicked(true);
    engine.setPanicked(false); // the release schedules a coverage drop
    world.runAudio(0.5);
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(engine.volumes().count(music.bundleID), 1u) << "the entry stays, unsaved";
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
}

TEST_F(MixerEngineTapsTest, EmptyApplicationListReleasesEveryTap) {
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    world.engine->toggleMute(world.app(video));
    ASSERT_EQ(world.engine->taps().size(), 2u);
    world.removeApp(music);
    world.removeApp(video);
    world.settle();
    EXPECT_TRUE(world.engine->processMonitor().apps().empty());
    EXPECT_TRUE(world.engine->taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());
    EXPECT_TRUE(world.server.audio().liveAggregates().empty());
}

TEST_F(MixerEngineTapsTest, ShutdownRampsAttenuatedTapsToUnityBeforeStopping) {
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    world.startEngine();
    MixerEngine& engine = *world.engine;
    engine.setVolume(0.2f, world.app(music));
    engine.toggleMute(world.app(video)); // muted taps are not raised
    world.runAudio(0.2);

    engine.shutdown();
    ASSERT_EQ(world.blockingWaits, (std::vector<double>{0.15}));
    EXPECT_TRUE(engine.taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());
    // The last audio before the taps went carried music at (nearly) unity, video silent.
    const float last = world.rms(speakers, 0, 0.02);
    EXPECT_NEAR(last, kSineRMS, 0.02);
}

TEST_F(MixerEngineTapsTest, ShutdownWithTapsAtUnityDoesNotWait) {
    world.startEngine();
    world.engine->toggleMute(world.app(music));
    world.engine->toggleMute(world.app(music)); // unmuted, volume 1.0, tap kept
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);
    world.engine->shutdown();
    EXPECT_TRUE(world.blockingWaits.empty());
    EXPECT_TRUE(world.engine->taps().empty());
}

} // namespace
} // namespace orevant
