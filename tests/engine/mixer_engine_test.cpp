#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "audio/hal_error.h"
#include "engine/deferred_save.h"
#include "persistence/volume_store.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

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

TEST_F(MixerEngineTest, DefaultApplicationIsHeardUnalteredWithoutTap) {
    world.startEngine();
    EXPECT_TRUE(world.engine->isStarted());
    world.runAudio(0.2);
    EXPECT_TRUE(world.engine->taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
    EXPECT_NEAR(world.rms(speakers, 1), kSineRMS, 0.01);
}

TEST_F(MixerEngineTest, SetVolumeMakesTapAndAttenuatesToCubeAfterRamp) {
    world.startEngine();
    world.runAudio(0.1);
    const float original = world.rms(speakers, 0);
    ASSERT_NEAR(original, kSineRMS, 0.01);

    world.engine->setVolume(0.5f, world.app(music));
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(world.engine->tap(music.bundleID)->volume(), 0.5f);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0) / original, 0.125f, 0.005f);
    EXPECT_NEAR(world.rms(speakers, 1) / original, 0.125f, 0.005f);

    // Back to unity: the tap stays (only a coverage drop releases it) and so does the entry.
    world.engine->setVolume(1.0f, world.app(music));
    world.runAudio(0.5);
    EXPECT_NE(world.engine->tap(music.bundleID), nullptr);
    EXPECT_EQ(world.engine->volumes().count(music.bundleID), 1u);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    // Out-of-range values are limited.
    world.engine->setVolume(7.0f, world.app(music));
    EXPECT_FLOAT_EQ(world.engine->volumes().at(music.bundleID).volume, 1.0f);
    world.engine->setVolume(-1.0f, world.app(music));
    EXPECT_FLOAT_EQ(world.engine->volumes().at(music.bundleID).volume, 0.0f);
}

TEST_F(MixerEngineTest, ToggleMuteWithoutSettingCreatesMutedSettingAndSilences) {
    world.startEngine();
    world.engine->toggleMute(world.app(music));
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);
    EXPECT_TRUE(world.engine->volumes().at(music.bundleID).isMuted);
    world.runAudio(0.3);
    EXPECT_LT(world.peak(speakers, 0), 0.001f);

    world.engine->toggleMute(world.app(music));
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
}

TEST_F(MixerEngineTest, SetCueVolumeWithoutSettingChangesNothing) {
    world.startEngine();
    world.engine->setCueVolume(0.3f, music.bundleID);
    EXPECT_TRUE(world.engine->volumes().empty());
    EXPECT_TRUE(world.engine->taps().empty());

    world.engine->setVolume(0.8f, world.app(music));
    world.engine->setCueVolume(1.5f, music.bundleID);
    EXPECT_FLOAT_EQ(world.engine->volumes().at(music.bundleID).cueVolume, 1.0f);
    world.engine->setCueVolume(0.3f, music.bundleID);
    EXPECT_FLOAT_EQ(world.engine->volumes().at(music.bundleID).cueVolume, 0.3f);
    EXPECT_FLOAT_EQ(world.engine->tap(music.bundleID)->cueVolume(), 0.3f);
}

TEST_F(MixerEngineTest, RoutingToTwoDevicesPlaysOnBothAndRemovingLastOutputReleasesTap) {
    const AudioObjectID headphones = world.addOutputDevice("headphones-uid", "Headphones");
    world.startEngine();
    const AudioDevice* phonesDevice = world.engine->deviceMonitor().device("headphones-uid");
    const AudioDevice* speakerDevice = world.engine->deviceMonitor().device("speakers-uid");
    ASSERT_TRUE(phonesDevice && speakerDevice);

    world.engine->addOutput(*phonesDevice, world.app(music));
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(headphones, 0), kSineRMS, 0.01);
    EXPECT_LT(world.peak(speakers, 0), 0.001f) << "routed away from the default device";

    world.engine->addOutput(*speakerDevice, world.app(music));
    world.engine->addOutput(*speakerDevice, world.app(music)); // already there: nothing changes
    EXPECT_EQ(world.engine->volumes().at(music.bundleID).outputDeviceUIDs,
              (std::vector<std::string>{"headphones-uid", "speakers-uid"}));
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(headphones, 0), kSineRMS, 0.01);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
    EXPECT_EQ(world.engine->routeVolumes().size(), 2u);
    EXPECT_NE(world.engine->routeVolumeController("headphones-uid"), nullptr);

    world.engine->removeOutput("headphones-uid", world.app(music));
    world.runAudio(0.2);
    EXPECT_LT(world.peak(headphones, 0), 0.001f);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    // The last output of an otherwise default setting: the entry and the tap go.
    world.engine->removeOutput("speakers-uid", world.app(music));
    EXPECT_EQ(world.engine->volumes().count(music.bundleID), 0u);
    EXPECT_EQ(world.engine->tap(music.bundleID), nullptr);
    EXPECT_TRUE(world.engine->routeVolumes().empty());
    world.runAudio(0.2);
    EXPECT_TRUE(world.server.audio().liveAggregates().empty());
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
}

TEST_F(MixerEngineTest, ClearOutputsKeepsOtherCustomisationAndRoutedAppRunsAtUnity) {
    world.addOutputDevice("headphones-uid", "Headphones");
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    world.engine->addOutput(*world.engine->deviceMonitor().device("headphones-uid"), world.app(music));
    // An explicitly routed application plays at unity; its level is its devices' volume.
    EXPECT_FLOAT_EQ(world.engine->tap(music.bundleID)->volume(), 1.0f);

    world.engine->clearOutputs(world.app(music));
    ASSERT_EQ(world.engine->volumes().count(music.bundleID), 1u);
    EXPECT_TRUE(world.engine->volumes().at(music.bundleID).outputDeviceUIDs.empty());
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(world.engine->tap(music.bundleID)->volume(), 0.5f);
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS * 0.125f, 0.005);

    // Without outputs, clearing again or removing an absent UID does nothing.
    const auto before = world.engine->volumes();
    world.engine->clearOutputs(world.app(music));
    world.engine->removeOutput("nowhere", world.app(music));
    EXPECT_EQ(world.engine->volumes(), before);
}

TEST_F(MixerEngineTest, TwentySliderMovesWithinSaveDelayGiveOneWrite) {
    world.startEngine();
    const size_t writesBefore = world.defaults.writeCount("appVolumes");
    const AudioApp app = world.app(music);
    for (int i = 0; i < 20; ++i) {
        world.engine->setVolume(0.3f + 0.01f * static_cast<float>(i), app);
        world.advance(0.019);
    }
    EXPECT_EQ(world.defaults.writeCount("appVolumes"), writesBefore);
    world.advance(MixerEngine::kSaveDelaySeconds - 0.02);
    EXPECT_EQ(world.defaults.writeCount("appVolumes"), writesBefore);
    world.advance(0.03);
    EXPECT_EQ(world.defaults.writeCount("appVolumes"), writesBefore + 1);
    EXPECT_FLOAT_EQ(VolumeStore(world.defaults).load().at(music.bundleID).volume, 0.49f);
}

TEST_F(MixerEngineTest, ResetAppSavesAtOnceAndReleasesTap) {
    world.startEngine();
    world.engine->setVolume(0.2f, world.app(music));
    world.advance(1.0);
    ASSERT_EQ(VolumeStore(world.defaults).load().count(music.bundleID), 1u);

    world.engine->resetApp(world.app(music));
    EXPECT_EQ(VolumeStore(world.defaults).load().count(music.bundleID), 0u);
    EXPECT_EQ(world.engine->tap(music.bundleID), nullptr);
    EXPECT_TRUE(world.engine->volumes().empty());
    world.runAudio(0.1);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    // A restart shows the application at its default setting.
    world.dropEngine();
    world.startEngine();
    EXPECT_EQ(world.engine->volume(world.app(music)), AppVolume{});
    EXPECT_TRUE(world.engine->taps().empty());
}

TEST_F(MixerEngineTest, RestartRestoresSettingsAndBusPairings) {
    world.addOutputDevice("headphones-uid", "Headphones");
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    world.startEngine();
    world.engine->setVolume(0.25f, world.app(music));
    world.engine->toggleMute(world.app(video));
    world.engine->addOutput(*world.engine->deviceMonitor().device("headphones-uid"), world.app(video));
    world.engine->setCueVolume(0.6f, video.bundleID);
    world.engine->setBusPairing("interface-uid", 4, 0);
    world.runAudio(0.5);
    const auto volumes = world.engine->volumes();
    const auto pairings = world.engine->busPairings();

    world.dropEngine();
    MixerEngine& restarted = world.startEngine();
    EXPECT_EQ(restarted.volumes(), volumes);
    EXPECT_EQ(restarted.busPairings(), pairings);
    EXPECT_EQ(restarted.busPairings().at("interface-uid"), (BusPairing{4, 0}));
    ASSERT_NE(restarted.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(restarted.tap(music.bundleID)->volume(), 0.25f);
    ASSERT_NE(restarted.tap(video.bundleID), nullptr);
    EXPECT_EQ(restarted.tap(video.bundleID)->activatedOutputs().front().uid, "headphones-uid");
}

TEST_F(MixerEngineTest, StartRemovesObsoleteKeyLoadsSlotsAndIsObservable) {
    world.defaults.set("cueOutputUID", std::string("old"));
    world.defaults.set("consoleSlots", DefaultsStringArray{"a", "b", "c", "d", "e", "f"});
    world.makeEngine();
    int notifications = 0;
    auto token = world.engine->addObserver([&] { ++notifications; });
    world.engine->start();
    EXPECT_FALSE(world.defaults.object("cueOutputUID").has_value());
    EXPECT_EQ(world.engine->slots(), (std::vector<std::string>{"bus:main", "bus:phones", "", "", "", "", "", ""}));
    EXPECT_EQ(MixerEngine::current(), world.engine.get());
    EXPECT_GE(notifications, 1);

    const int before = notifications;
    world.engine->setVolume(0.5f, world.app(music));
    EXPECT_EQ(notifications, before + 1);

    world.engine->setSlot(3, "com.example.music");
    world.engine->setSlot(3, "com.example.music"); // unchanged: nothing written
    world.engine->setSlot(8, "x");                 // out of range
    world.advance(DeferredSave::kDelaySeconds);
    EXPECT_EQ(world.defaults.writeCount("consoleSlots"), 2u);
    EXPECT_EQ(world.engine->slots()[3], "com.example.music");

    world.dropEngine();
    EXPECT_EQ(MixerEngine::current(), nullptr);
}

TEST_F(MixerEngineTest, ProcessListChangesSyncTapsAndDepartedAppLosesTap) {
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    ASSERT_NE(world.engine->tap(music.bundleID), nullptr);

    // A second process of the application: the tap is rebuilt with the new object list.
    world.addProcessTo(music);
    world.settle();
    ProcessTap* rebuilt = world.engine->tap(music.bundleID);
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->processObjectIDs().size(), 2u);
    EXPECT_EQ(rebuilt->processObjectIDs(), world.app(music).objectIDs);

    world.removeApp(music);
    world.settle();
    EXPECT_TRUE(world.engine->taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());
}

TEST_F(MixerEngineTest, TwoInstancesOfOneBundleIDFirstWinsAndEngineKeepsRunning) {
    SimApp second = world.addApp("com.example.music", "Music", 880.0);
    world.startEngine();
    const auto& apps = world.engine->processMonitor().apps();
    ASSERT_EQ(
        std::count_if(apps.begin(), apps.end(), [](const AudioApp& a) { return a.bundleID == "com.example.music"; }),
        2);
    const AudioApp first = apps.front();
    world.engine->setVolume(0.5f, first);
    world.settle();
    ASSERT_EQ(world.engine->taps().size(), 1u);
    EXPECT_EQ(world.engine->tap("com.example.music")->processObjectIDs(), first.objectIDs);

    // Process-list churn keeps exactly one tap, for the first instance listed.
    SimApp other = world.addApp("com.example.other", "Other", 300.0);
    world.settle();
    world.runAudio(0.2);
    ASSERT_EQ(world.engine->taps().size(), 1u);
    EXPECT_EQ(world.engine->tap("com.example.music")->processObjectIDs(),
              world.engine->processMonitor().apps().front().objectIDs);
    (void)second;
    (void)other;
}

TEST_F(MixerEngineTest, BluetoothDeviceLookupAndRoutingToConnectedHeadset) {
    world.bluetooth.addPaired({BluetoothPairedDevice{"AA-BB-CC-DD-EE-FF", "Headset", 4, 1, false}});
    world.startEngine();
    world.advance(0.1);
    ASSERT_EQ(world.engine->bluetooth().paired().size(), 1u);
    const BluetoothAudioDevice headset = world.engine->bluetooth().paired().front();

    // The headset's audio device appears 1 s after the connection opens.
    world.bluetooth.onConnectionChanged = [&](const std::string&, bool connected) {
        if (!connected) return;
        world.queue.postAfter(
            1.0, [&] { world.addOutputDevice("aa-bb-cc-dd-ee-ff:output", "Headset", 2, transport::bluetooth); });
    };
    world.engine->connectBluetooth(headset);
    world.advance(0.9);
    EXPECT_NE(world.audio.defaultOutput(), world.audio.deviceWithUID("aa-bb-cc-dd-ee-ff:output"));
    world.advance(1.0);
    const AudioObjectID headsetDevice = world.audio.deviceWithUID("aa-bb-cc-dd-ee-ff:output");
    ASSERT_NE(headsetDevice, 0u);
    EXPECT_EQ(world.audio.defaultOutput(), headsetDevice);
    const AudioDevice* listed = world.engine->deviceMonitor().device("aa-bb-cc-dd-ee-ff:output");
    ASSERT_NE(listed, nullptr);
    ASSERT_TRUE(world.engine->bluetoothDevice(*listed).has_value());
    EXPECT_EQ(world.engine->bluetoothDevice(*listed)->id, headset.id);
    EXPECT_FALSE(world.engine->bluetoothDevice(*world.engine->deviceMonitor().device("speakers-uid")).has_value());
}

TEST_F(MixerEngineTest, BluetoothRoutingGivesUpAfterSixteenTries) {
    world.bluetooth.addPaired({BluetoothPairedDevice{"11-22-33-44-55-66", "Speaker", 4, 1, false}});
    world.startEngine();
    world.advance(0.1);
    const BluetoothAudioDevice speaker = world.engine->bluetooth().paired().front();
    world.engine->connectBluetooth(speaker);
    world.queue.runUntilIdle();
    // Tries at 0, 0.3, ..., 4.5 s; a device appearing after that is not made the default.
    world.advance(4.6);
    world.addOutputDevice("11-22-33-44-55-66:output", "Speaker", 2, transport::bluetooth);
    world.advance(3.0);
    EXPECT_EQ(world.audio.defaultOutput(), speakers);
}

} // namespace
} // namespace orevant
