#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_controlling.h"
#include "persistence/snapshot_store.h"
#include "persistence/volume_store.h"
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

class ScenesTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    CountingCompanionBridge* bridge = nullptr;

    MixerEngine& start() {
        world.makeEngine();
        auto owned = std::make_unique<CountingCompanionBridge>();
        bridge = owned.get();
        world.engine->setCompanionBridge(std::move(owned));
        return world.startEngine();
    }

    std::vector<std::string> sceneNames() const {
        std::vector<std::string> names;
        for (const MixSnapshot& scene : world.engine->snapshots()) names.push_back(scene.name);
        return names;
    }
};

TEST_F(ScenesTest, SavingTwiceUnderOneNameKeepsOneSceneAndEveryChangeReachesThePhoneAndTheStore) {
    MixerEngine& engine = start();
    engine.setVolume(0.5f, world.app(music));
    engine.systemVolume().setVolume(0.8f);
    const int listsBefore = bridge->appLists;

    engine.saveScene("Evening");
    ASSERT_EQ(engine.snapshots().size(), 1u);
    const MixSnapshot first = engine.snapshots().front();
    EXPECT_EQ(first.name, "Evening");
    EXPECT_EQ(first.volumes, engine.volumes());
    EXPECT_EQ(first.mainLevel, std::optional<float>(0.8f));
    EXPECT_EQ(first.phonesLevel, std::nullopt) << "the speakers have no PHONES bus";
    EXPECT_EQ(bridge->appLists, listsBefore + 1) << "the phone sees the new scene name";

    engine.saveScene("Other");
    engine.setVolume(0.25f, world.app(music));
    engine.saveScene("Evening");
    ASSERT_EQ(sceneNames(), (std::vector<std::string>{"Evening", "Other"})) << "replaced in place";
    EXPECT_EQ(engine.snapshots().front().id, first.id);
    EXPECT_FLOAT_EQ(engine.snapshots().front().volumes.at(music.bundleID).volume, 0.25f);
    engine.saveScene("Gone");
    const int listsBeforeDelete = bridge->appLists;
    engine.deleteScene(engine.snapshots().back().id);
    EXPECT_EQ(sceneNames(), (std::vector<std::string>{"Evening", "Other"}));
    EXPECT_EQ(bridge->appLists, listsBeforeDelete + 1) << "the phone sees the scene go";

    // Changes are stored 0.4 s after the last one (the two saves close together in one write),
    // and a restart brings the scenes back as they were.
    world.advance(0.4);
    EXPECT_EQ(world.defaults.writeCount("mixSnapshots"), 1u);
    const std::vector<MixSnapshot> before = engine.snapshots();
    world.dropEngine();
    world.startEngine();
    EXPECT_EQ(world.engine->snapshots(), before);
}

TEST_F(ScenesTest, RecallBringsBackWhatTheListenerHeardAndDropsLaterSettings) {
    MixerEngine& engine = start();
    engine.setVolume(0.5f, world.app(music));
    world.runAudio(0.3);
    ASSERT_NEAR(world.rms(speakers, 0), std::sqrt(std::pow(kSineRMS * 0.125f, 2.0f) + kSineRMS * kSineRMS), 0.01);
    engine.saveScene("Quiet music");

    // Later: music at unity, video muted (a setting the scene does not know).
    engine.setVolume(1.0f, world.app(music));
    engine.toggleMute(world.app(video));
    world.runAudio(0.3);
    ASSERT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);

    engine.applyScene(engine.snapshots().front());
    EXPECT_EQ(engine.volumes(), engine.snapshots().front().volumes);
    EXPECT_FALSE(engine.volumes().count(video.bundleID)) << "the scene's map replaces the live one";
    world.runAudio(0.25);
    EXPECT_NEAR(world.rms(speakers, 0), std::sqrt(std::pow(kSineRMS * 0.125f, 2.0f) + kSineRMS * kSineRMS), 0.01);
    // The video tap, back at its default setting, goes with the coverage drop.
    world.runAudio(0.2);
    EXPECT_EQ(engine.tap(video.bundleID), nullptr);
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(engine.tap(music.bundleID)->volume(), 0.5f);

    // The recalled map is saved like any other change, after the usual delay.
    world.advance(0.4);
    EXPECT_EQ(VolumeStore(world.defaults).load(), engine.volumes());
}

// Faults: a recalled routed application played at its stored slider level instead of unity, or
// went silent when its device was gone.
TEST_F(ScenesTest, RecalledRoutingPlaysAtUnityOnItsDeviceOrElseOnTheDefault) {
    const AudioObjectID usb = world.addOutputDevice("usb-uid", "USB DAC", 2, transport::usb);
    MixerEngine& engine = start();
    const AudioApp app = world.app(music);
    engine.setVolume(0.2f, app);
    engine.addOutput(*engine.deviceMonitor().device("usb-uid"), app);
    engine.saveScene("On the DAC");
    engine.clearOutputs(app);
    ASSERT_FLOAT_EQ(engine.tap(music.bundleID)->volume(), 0.2f);

    engine.applyScene(engine.snapshots().front());
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(engine.tap(music.bundleID)->volume(), 1.0f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.2f) << "the stored setting is kept";
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(usb, 0), kSineRMS, 0.01);

    engine.clearOutputs(app);
    world.audio.removeDevice(usb);
    world.settle();
    engine.applyScene(engine.snapshots().front());
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs().front().uid, "speakers-uid");
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0), std::sqrt(2.0f) * kSineRMS, 0.02) << "music at unity, on the default";
}

// Faults: a scene saved without a PHONES bus changed PHONES (or left MAIN); a paired scene that
// did not bring back the PHONES level and cues, or changed PHONES where nothing is paired.
TEST_F(ScenesTest, ScenesRestorePhonesLevelAndCuesOnlyWhereTheyHaveThem) {
    MixerEngine& engine = start(); // speakers: no pairing
    engine.systemVolume().setVolume(0.6f);
    engine.saveScene("Speakers");
    world.setDefaultOutput(interface);
    world.settle();
    ASSERT_TRUE(engine.isPaired());
    engine.phonesController()->setVolume(0.5f);
    engine.setCue(true, music.bundleID);
    engine.saveScene("Cue music");
    EXPECT_EQ(engine.snapshots().back().phonesLevel, std::optional<float>(0.5f));

    engine.phonesController()->setVolume(0.3f);
    engine.systemVolume().setVolume(0.9f);
    engine.applyScene(engine.snapshots().front()); // no cue, no PHONES level
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 0.3f);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 0.6f);
    world.runAudio(0.2);
    ASSERT_EQ(engine.tap(video.bundleID)->phonesMode(), PhonesMode::sameAsMain);

    engine.applyScene(engine.snapshots().back());
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 0.5f);
    EXPECT_EQ(engine.tap(music.bundleID)->phonesMode(), PhonesMode::cue);
    EXPECT_EQ(engine.tap(video.bundleID)->phonesMode(), PhonesMode::silent);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(interface, 2), kSineRMS * 0.125f, 0.004) << "only the cued music, at the PHONES level";

    // The same scene on the unpaired speakers: the cue is stored but PHONES is left alone.
    world.setDefaultOutput(speakers);
    world.settle();
    engine.phonesBusVolume().setVolume(0.9f);
    engine.applyScene(engine.snapshots().back());
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 0.9f);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
}

// Faults: a slot change the phone never hears of, an unchanged slot written again, a slot not
// kept over a restart.
TEST_F(ScenesTest, ConsoleSlotChangesReachThePhoneAndSurviveARestart) {
    MixerEngine& engine = start();
    const int listsBefore = bridge->appLists;
    const size_t writesBefore = world.defaults.writeCount("consoleSlots");
    engine.setSlot(3, "");
    EXPECT_EQ(bridge->appLists, listsBefore) << "unchanged";
    engine.oscListener().dispatch("/slot/3/com.example.music", 1.0f);
    EXPECT_EQ(engine.slots()[3], music.bundleID);
    EXPECT_EQ(bridge->appLists, listsBefore + 1);
    world.advance(0.4);
    EXPECT_EQ(world.defaults.writeCount("consoleSlots"), writesBefore + 1);
    world.dropEngine();
    world.startEngine();
    EXPECT_EQ(world.engine->slots()[3], music.bundleID);
}

} // namespace
} // namespace orevant
