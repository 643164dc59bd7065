#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "persistence/volume_store.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <functional>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f; // a 0.5 sine heard unaltered

class MixerEngineTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
};

// Faults: a wrong gain law, an unclamped slider value, a mute that is not heard, routing that
// plays on the wrong device or keeps playing on the default, clearing outputs that loses the
// application's own level.
TEST_F(MixerEngineTest, EachActionIsHeardAtItsLevelOnEachDevice) {
    const AudioObjectID headphones = world.addOutputDevice("headphones-uid", "Headphones");
    MixerEngine& engine = world.startEngine();
    const AudioDevice phonesDevice = *engine.deviceMonitor().device("headphones-uid");
    const AudioDevice speakerDevice = *engine.deviceMonitor().device("speakers-uid");
    const auto app = [&] { return world.app(music); };
    const float quiet = kSineRMS * 0.125f; // volume 0.5 is heard as its cube
    const struct {
        const char* name;
        std::function<void()> act;
        float onSpeakers;
        float onHeadphones;
    } steps[] = {
        {"nothing changed", [] {}, kSineRMS, 0.0f},
        {"volume 0.5", [&] { engine.setVolume(0.5f, app()); }, quiet, 0.0f},
        {"above range: unity", [&] { engine.setVolume(7.0f, app()); }, kSineRMS, 0.0f},
        {"below range: silence", [&] { engine.setVolume(-1.0f, app()); }, 0.0f, 0.0f},
        {"volume 0.5, cue level above range",
         [&] {
             engine.setVolume(0.5f, app());
             engine.setCueVolume(1.5f, music.bundleID);
         },
         quiet, 0.0f},
        {"muted", [&] { engine.toggleMute(app()); }, 0.0f, 0.0f},
        {"unmuted", [&] { engine.toggleMute(app()); }, quiet, 0.0f},
        {"routed to the headphones: unity there only", [&] { engine.addOutput(phonesDevice, app()); }, 0.0f, kSineRMS},
        {"routed to both (added twice)",
         [&] {
             engine.addOutput(speakerDevice, app());
             engine.addOutput(speakerDevice, app());
         },
         kSineRMS, kSineRMS},
        {"headphones removed", [&] { engine.removeOutput("headphones-uid", app()); }, kSineRMS, 0.0f},
        {"outputs cleared: its own level on the default", [&] { engine.clearOutputs(app()); }, quiet, 0.0f},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        world.runAudio(0.3);
        EXPECT_NEAR(world.rms(speakers, 0), step.onSpeakers, 0.004);
        EXPECT_NEAR(world.rms(speakers, 1), step.onSpeakers, 0.004);
        EXPECT_NEAR(world.rms(headphones, 0), step.onHeadphones, 0.004);
        if (const AppVolume* stored =
                engine.volumes().count(music.bundleID) ? &engine.volumes().at(music.bundleID) : nullptr) {
            for (float level : {stored->volume, stored->cueVolume}) {
                EXPECT_GE(level, 0.0f) << "stored settings stay in range";
                EXPECT_LE(level, 1.0f) << "stored settings stay in range";
            }
        }
    }
    EXPECT_EQ(engine.volumes().at(music.bundleID).outputDeviceUIDs, std::vector<std::string>{});
}

// Faults: a setting back at its defaults kept its entry, its tap or its aggregate; a reset that
// waited for the deferred save or kept the tap.
TEST_F(MixerEngineTest, RemovingTheLastOutputOrResettingReleasesEntryAndTap) {
    MixerEngine& engine = world.startEngine();
    engine.addOutput(*engine.deviceMonitor().device("speakers-uid"), world.app(music));
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    engine.removeOutput("speakers-uid", world.app(music));
    EXPECT_EQ(engine.volumes().count(music.bundleID), 0u);
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    EXPECT_TRUE(engine.routeVolumes().empty());
    world.runAudio(0.2);
    EXPECT_TRUE(world.server.audio().liveAggregates().empty());
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    engine.setVolume(0.2f, world.app(music));
    world.advance(1.0);
    ASSERT_EQ(VolumeStore(world.defaults).load().count(music.bundleID), 1u);
    engine.resetApp(world.app(music));
    EXPECT_EQ(VolumeStore(world.defaults).load().count(music.bundleID), 0u) << "saved at once";
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);
    world.dropEngine();
    world.startEngine();
    EXPECT_EQ(world.engine->volume(world.app(music)), AppVolume{});
    EXPECT_TRUE(world.engine->taps().empty());
}

// Faults: a restart that loses settings, pairings or their taps, keeps the obsolete key, is not
// the current engine, or does not tell observers of a change; a dropped engine still current.
TEST_F(MixerEngineTest, RestartRestoresSettingsBusPairingsAndTheirTaps) {
    world.addOutputDevice("headphones-uid", "Headphones");
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    world.defaults.set("cueOutputUID", std::string("old"));
    world.startEngine();
    world.engine->setVolume(0.25f, world.app(music));
    world.engine->toggleMute(world.app(video));
    world.engine->addOutput(*world.engine->deviceMonitor().device("headphones-uid"), world.app(video));
    world.engine->setCueVolume(0.6f, video.bundleID);
    world.engine->setBusPairing("interface-uid", 4, 0);
    world.runAudio(0.5);
    const auto volumes = world.engine->volumes();

    world.dropEngine();
    MixerEngine& restarted = world.startEngine();
    EXPECT_FALSE(world.defaults.object("cueOutputUID").has_value());
    EXPECT_EQ(MixerEngine::current(), &restarted);
    EXPECT_EQ(restarted.volumes(), volumes);
    EXPECT_EQ(restarted.busPairings().at("interface-uid"), (BusPairing{4, 0}));
    ASSERT_NE(restarted.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(restarted.tap(music.bundleID)->volume(), 0.25f);
    ASSERT_NE(restarted.tap(video.bundleID), nullptr);
    EXPECT_EQ(restarted.tap(video.bundleID)->activatedOutputs().front().uid, "headphones-uid");
    int notifications = 0;
    auto token = restarted.addObserver([&] { ++notifications; });
    restarted.setVolume(0.5f, world.app(music));
    EXPECT_EQ(notifications, 1);
    world.dropEngine();
    EXPECT_EQ(MixerEngine::current(), nullptr);
}

// Faults: a new process of a tapped application left out of its tap; a second running instance
// of one bundle ID given a tap of its own, or taking over the first one's.
TEST_F(MixerEngineTest, ATapFollowsItsApplicationsProcessesAndIgnoresASecondInstance) {
    world.addApp("com.example.music", "Music", 880.0);
    MixerEngine& engine = world.startEngine();
    engine.setVolume(0.5f, world.app(music));
    world.addProcessTo(music);
    world.settle();
    world.runAudio(0.2);
    ASSERT_EQ(engine.taps().size(), 1u);
    EXPECT_EQ(engine.tap(music.bundleID)->processObjectIDs().size(), 2u);
    EXPECT_EQ(engine.tap(music.bundleID)->processObjectIDs(), world.app(music).objectIDs);
}

TEST_F(MixerEngineTest, ConnectedHeadsetBecomesTheDefaultWithinSixteenTriesOnly) {
    world.bluetooth.addPaired({BluetoothPairedDevice{"AA-BB-CC-DD-EE-FF", "Headset", 4, 1, false}});
    world.bluetooth.addPaired({BluetoothPairedDevice{"11-22-33-44-55-66", "Speaker", 4, 1, false}});
    world.startEngine();
    world.advance(0.1);
    ASSERT_EQ(world.engine->bluetooth().paired().size(), 2u);
    const BluetoothAudioDevice headset = world.engine->bluetooth().paired()[0];
    const BluetoothAudioDevice late = world.engine->bluetooth().paired()[1];

    // The headset's audio device appears 1 s after the connection opens.
    world.bluetooth.onConnectionChanged = [&](const std::string& id, bool connected) {
        if (!connected || id != headset.id) return;
        world.queue.postAfter(
            1.0, [&] { world.addOutputDevice("aa-bb-cc-dd-ee-ff:output", "Headset", 2, transport::bluetooth); });
    };
    world.engine->connectBluetooth(headset);
    world.advance(2.0);
    const AudioObjectID headsetDevice = world.audio.deviceWithUID("aa-bb-cc-dd-ee-ff:output");
    ASSERT_NE(headsetDevice, 0u);
    EXPECT_EQ(world.audio.defaultOutput(), headsetDevice);
    const AudioDevice* listed = world.engine->deviceMonitor().device("aa-bb-cc-dd-ee-ff:output");
    ASSERT_NE(listed, nullptr);
    ASSERT_TRUE(world.engine->bluetoothDevice(*listed).has_value());
    EXPECT_EQ(world.engine->bluetoothDevice(*listed)->id, headset.id);
    EXPECT_FALSE(world.engine->bluetoothDevice(*world.engine->deviceMonitor().device("speakers-uid")).has_value());

    // Tries at 0, 0.3, ..., 4.5 s; a device appearing after that is not made the default.
    world.setDefaultOutput(speakers);
    world.engine->connectBluetooth(late);
    world.queue.runUntilIdle();
    world.advance(4.6);
    world.addOutputDevice("11-22-33-44-55-66:output", "Speaker", 2, transport::bluetooth);
    world.advance(3.0);
    EXPECT_EQ(world.audio.defaultOutput(), speakers);
}

} // namespace
} // namespace orevant
