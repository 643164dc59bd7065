#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

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

// Faults: the aggregates made around our own taps showed up as output devices the user could
// pick (and route an application into its own tap); taps kept once no application is left.
TEST_F(MixerEngineTapsTest, OwnTapAggregatesStayUnlistedAndGoWithTheLastApplication) {
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    MixerEngine& engine = world.startEngine();
    engine.setVolume(0.5f, world.app(music));
    engine.toggleMute(world.app(video));
    world.addOutputDevice("desk-uid", "Desk", 2, transport::usb); // the list is read again
    world.settle();
    world.runAudio(0.2);
    ASSERT_EQ(world.server.audio().liveAggregates().size(), 2u);
    std::vector<std::string> listed;
    for (const AudioDevice& device : engine.deviceMonitor().devices()) listed.push_back(device.uid);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"desk-uid", "speakers-uid"}));

    world.removeApp(music);
    world.removeApp(video);
    world.settle();
    EXPECT_TRUE(engine.taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());
    EXPECT_TRUE(world.server.audio().liveAggregates().empty());
}

// Faults: a wireless device first (its clock then drives the wired one), an absent or repeated
// device kept as an output, no output at all when none of the routed devices is present.
TEST_F(MixerEngineTapsTest, RoutedOutputsPutAWiredDeviceFirstSkipAbsentOnesAndElseFollowTheDefault) {
    const AudioObjectID headset = world.addOutputDevice("headset-uid", "Headset", 2, transport::bluetooth);
    const AudioObjectID desk = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    const AudioObjectID buds = world.addOutputDevice("buds-uid", "Buds", 2, transport::bluetoothLE);
    using Outputs = std::vector<ProcessTap::Output>;
    const struct {
        std::vector<std::string> routed;
        Outputs outputs;
    } cases[] = {
        {{"headset-uid", "gone-uid", "desk-uid"}, {{"desk-uid", desk}, {"headset-uid", headset}}},
        {{"buds-uid", "headset-uid"}, {{"buds-uid", buds}, {"headset-uid", headset}}},
        {{"desk-uid", "desk-uid", "speakers-uid"}, {{"desk-uid", desk}, {"speakers-uid", speakers}}},
        {{"gone-uid"}, {{"speakers-uid", speakers}}},
        {{}, {{"speakers-uid", speakers}}},
    };
    MixerEngine& engine = world.startEngine();
    const AudioApp app = world.app(music);
    engine.setVolume(0.5f, app); // the entry outlives every cleared route
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.routed));
        engine.clearOutputs(app);
        for (const std::string& uid : c.routed)
            engine.addOutput(AudioDevice{0, uid, uid, transport::usb, 0, 0, 2}, app);
        ASSERT_NE(engine.tap(music.bundleID), nullptr);
        EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs(), c.outputs);
    }
}

// Fault: a failed read of the default device made no tap and nothing tried again.
TEST_F(MixerEngineTapsTest, ATapNotMadeForAnUnreadableDefaultDeviceIsMadeOnTheNextSync) {
    MixerEngine& engine = world.startEngine();
    world.server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                               SimAudioServer::opGet);
    engine.setVolume(0.5f, world.app(music));
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    world.server.clearAllFailures();
    world.addApp("com.example.video", "Video", 550.0); // the process list changes
    world.settle();
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(engine.tap(music.bundleID)->volume(), 0.5f);
}

TEST_F(MixerEngineTapsTest, AbsentRoutedDeviceFollowsDefaultUntilItReturns) {
    const AudioObjectID desk = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    MixerEngine& engine = world.startEngine();
    engine.addOutput(*engine.deviceMonitor().device("desk-uid"), world.app(music));
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

// Faults: retries at other times, for ever, or on after a success; the permission flag kept
// after a success; an application altered while its tap cannot be made.
TEST_F(MixerEngineTapsTest, FailedTapIsRetriedAfterOneThreeSevenAndFifteenSecondsUntilMade) {
    MixerEngine& engine = world.startEngine();
    // Whole seconds from now at which a tap was asked for, over `seconds` of clock (no audio).
    const auto attempts = [&](double seconds) {
        std::vector<long> at;
        const double from = world.queue.now();
        for (long i = 0; i < std::lround(seconds * 100); ++i) {
            const size_t calls = createCalls();
            world.advance(0.01);
            if (createCalls() != calls) at.push_back(std::lround(world.queue.now() - from));
        }
        return at;
    };
    world.server.audio().injectFailure(SimAudioEngine::Call::createProcessTap, kDenied, 5);
    engine.setVolume(0.5f, world.app(music));
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    EXPECT_TRUE(engine.isRetryingTaps());
    EXPECT_EQ(attempts(20.0), (std::vector<long>{1, 3, 7, 15}));
    EXPECT_FALSE(engine.isRetryingTaps());
    EXPECT_TRUE(engine.needsAudioCapturePermission());
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01) << "the application keeps playing unaltered";

    // A new change asks again; access granted before the second retry.
    world.server.audio().injectFailure(SimAudioEngine::Call::createProcessTap, kDenied, 2);
    engine.setVolume(0.4f, world.app(music));
    EXPECT_EQ(attempts(3.5), (std::vector<long>{1, 3}));
    EXPECT_FALSE(engine.needsAudioCapturePermission());
    EXPECT_FALSE(engine.isRetryingTaps());
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    world.runAudio(0.2);
    EXPECT_TRUE(attempts(20.0).empty()) << "no retry after success";
}

// Faults: a tap that never renders kept the application silent for good; a silent process's
// tap (which has nothing to render) was rebuilt over and over.
TEST_F(MixerEngineTapsTest, WatchdogRebuildsOnlyATapThatNeverRenderedWhileItsProcessPlays) {
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    MixerEngine& engine = world.startEngine();
    engine.setVolume(0.5f, world.app(music));
    engine.setVolume(0.5f, world.app(video));
    world.audio.setPlaying(video.process, false);
    const ProcessTap* silent = engine.tap(video.bundleID);
    const size_t calls = createCalls();
    // No audio cycles: no IO runs. The start settled 0.15 s in; the watchdog checks at 2 s and 4 s.
    world.advance(2.0);
    EXPECT_EQ(createCalls(), calls) << "first strike only";
    world.advance(2.0);
    EXPECT_EQ(createCalls(), calls + 1) << "the music tap, once";
    EXPECT_EQ(engine.tap(video.bundleID), silent);
    world.runAudio(4.5); // two more checks
    EXPECT_EQ(createCalls(), calls + 1) << "a tap that renders is never rebuilt";
}

TEST_F(MixerEngineTapsTest, ATapWhoseAggregateDiesIsRebuiltAtOnce) {
    MixerEngine& engine = world.startEngine();
    engine.setVolume(0.5f, world.app(music));
    world.runAudio(0.2);
    const AudioObjectID first = engine.tap(music.bundleID)->aggregateID();
    const size_t calls = createCalls();
    world.server.setValue<uint32_t>(first, sel::deviceIsAlive, scope::global, 0);
    world.queue.runUntilIdle();
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(createCalls(), calls + 1) << "rebuilt without waiting for the watchdog";
    EXPECT_NE(engine.tap(music.bundleID)->aggregateID(), first);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0), 0.125f * kSineRMS, 0.002f);
}

// Fault: a coverage drop released the taps that a panic, a PHONES pair, a cue or automatic
// recording still needs (the mix jumps and the phones lose their cue), or kept them for ever.
TEST(MixerEngineCoverageDropTest, TapsOfDefaultSettingsGoUnlessSomethingHoldsThem) {
    using Hook = std::function<void(EngineFixture&)>;
    const Hook none = [](EngineFixture&) {};
    const struct {
        const char* name;
        Hook before;
        Hook after;
        size_t tapsLeft;
    } cases[] = {
        {"nothing holds them", none, none, 0},
        {"a setting back at its defaults (its entry stays)",
         [](EngineFixture& w) {
             const AudioApp first = w.engine->processMonitor().apps().front();
             w.engine->setVolume(0.4f, first);
             w.engine->setVolume(1.0f, first);
         },
         none, 0},
        {"panic engaged again", none, [](EngineFixture& w) { w.engine->setPanicked(true); }, 2},
        {"a paired default device",
         [](EngineFixture& w) {
             w.setDefaultOutput(w.audio.deviceWithUID("interface-uid"));
             w.settle();
         },
         none, 2},
        {"a cue, even where nothing is paired any more",
         [](EngineFixture& w) {
             w.setDefaultOutput(w.audio.deviceWithUID("interface-uid"));
             w.settle();
             w.engine->setCue(true, "com.example.music");
             w.setDefaultOutput(w.audio.deviceWithUID("speakers-uid"));
             w.settle();
         },
         none, 2},
        {"automatic recording", [](EngineFixture& w) { w.engine->setIsAutoRec(true); }, none, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EngineFixture world;
        world.addOutputDevice("speakers-uid", "Speakers");
        world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
        world.addApp("com.example.music", "Music", 440.0);
        world.addApp("com.example.video", "Video", 550.0);
        MixerEngine& engine = world.startEngine();
        c.before(world);
        engine.setPanicked(true);
        EXPECT_EQ(engine.taps().size(), 2u);
        engine.setPanicked(false); // the release schedules a coverage drop
        c.after(world);
        world.runAudio(0.5);
        EXPECT_EQ(engine.taps().size(), c.tapsLeft);
    }
}

// Faults: taps destroyed while attenuated left a jump up in level; the shutdown waited with
// nothing to ramp (a muted tap is not raised).
TEST(MixerEngineShutdownTest, AttenuatedTapsRampToUnityBeforeStoppingAndOnlyThenItWaits) {
    const struct {
        float musicVolume;
        std::vector<double> waits;
    } cases[] = {{0.2f, {0.15}}, {1.0f, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.musicVolume);
        EngineFixture world;
        const AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
        const SimApp music = world.addApp("com.example.music", "Music", 440.0);
        const SimApp video = world.addApp("com.example.video", "Video", 550.0);
        MixerEngine& engine = world.startEngine();
        engine.toggleMute(world.app(music));
        engine.toggleMute(world.app(music)); // tapped at unity
        engine.setVolume(c.musicVolume, world.app(music));
        engine.toggleMute(world.app(video));
        world.runAudio(0.2);
        engine.shutdown();
        EXPECT_EQ(world.blockingWaits, c.waits);
        EXPECT_TRUE(engine.taps().empty());
        EXPECT_TRUE(world.server.audio().liveTaps().empty());
        EXPECT_NEAR(world.rms(speakers, 0, 0.02), kSineRMS, 0.02) << "music near unity, video silent";
    }
}

// The tap set's lines that the system log is read for, each with its exact text.
TEST(MixerEngineDiagnosticsTest, EachDiagnosticIsLoggedWithItsText) {
    using Act = std::function<void(EngineFixture&)>;
    const Act quieter = [](EngineFixture& w) { w.engine->setVolume(0.5f, w.engine->processMonitor().apps().front()); };
    const struct {
        const char* line;
        Act act;
    } cases[] = {
        {"Tap failed for com.example.music: ",
         [&](EngineFixture& w) {
             w.server.audio().injectFailure(SimAudioEngine::Call::createProcessTap, kDenied);
             quieter(w);
         }},
        {"Default device read failed: ",
         [&](EngineFixture& w) {
             w.server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                                    SimAudioServer::opGet);
             quieter(w);
         }},
        {"Watchdog: tap for com.example.music never rendered while its process outputs — rebuilding",
         [&](EngineFixture& w) {
             quieter(w);
             w.advance(4.0); // no audio: the tap never renders
         }},
        {"PAIRCHK outputs=1 deviceFound=true ch=4 pairing=true",
         [](EngineFixture& w) {
             w.setDefaultOutput(w.audio.deviceWithUID("interface-uid"));
             w.settle();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EngineFixture world;
        world.addOutputDevice("speakers-uid", "Speakers");
        world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
        world.addApp("com.example.music", "Music", 440.0);
        world.startEngine();
        c.act(world);
        EXPECT_TRUE(world.logs->contains(c.line));
    }
}

} // namespace
} // namespace orevant
