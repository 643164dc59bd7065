#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;

// A 4-channel interface as the default output and three playing applications.
class MixerEngineBusesTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    SimApp game = world.addApp("com.example.game", "Game", 330.0);

    std::vector<PhonesMode> modes() {
        return {world.engine->tap(music.bundleID)->phonesMode(), world.engine->tap(video.bundleID)->phonesMode(),
                world.engine->tap(game.bundleID)->phonesMode()};
    }
};

// Faults: PHONES not hearing MAIN without a cue, a cue heard on MAIN's level instead of its own
// (pre-fade), other applications leaking into PHONES, the PHONES level not scaling the cue, taps
// dropped on a paired interface when the cue stops.
TEST_F(MixerEngineBusesTest, WhatMainAndPhonesHearOnAPairedInterface) {
    MixerEngine& engine = world.startEngine();
    ASSERT_TRUE(engine.isPaired());
    EXPECT_EQ(engine.taps().size(), 3u) << "every playing application is tapped";
    const float all = std::sqrt(3.0f) * kSineRMS; // three sines of different pitch
    const float quiet = kSineRMS * 0.125f;
    const float cued = kSineRMS * 0.512f; // the cue level, not MAIN's
    const float mainMix = std::sqrt(2.0f * kSineRMS * kSineRMS + quiet * quiet);
    const struct {
        const char* name;
        std::function<void()> act;
        float main;
        float phones;
    } steps[] = {
        {"no cue: PHONES hears MAIN", [] {}, all, all},
        {"music at 0.5 on MAIN, cued at 0.8",
         [&] {
             engine.setVolume(0.5f, world.app(music));
             engine.setCue(true, music.bundleID);
             engine.setCueVolume(0.8f, music.bundleID);
         },
         mainMix, cued},
        {"PHONES at 0.5", [&] { engine.phonesController()->setVolume(0.5f); }, mainMix, cued * 0.125f},
        {"cue stopped", [&] { engine.setCue(false, music.bundleID); }, mainMix, mainMix * 0.125f},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        world.runAudio(0.5);
        for (uint32_t channel : {0u, 1u})
            EXPECT_NEAR(world.rms(interface, channel, 0.2), step.main, 0.002 + 0.05 * step.main);
        for (uint32_t channel : {2u, 3u})
            EXPECT_NEAR(world.rms(interface, channel, 0.2), step.phones, 0.002 + 0.05 * step.phones);
    }
    EXPECT_EQ(engine.taps().size(), 3u) << "kept after the cue: the interface is paired";
}

// Faults: a cue taken (or a tap made) on an unpaired device, a stop refused there; a device paired
// later that taps no playing application.
TEST_F(MixerEngineBusesTest, CueWaitsForAPairedDefaultWhichThenTapsEveryPlayingApp) {
    world.setDefaultOutput(speakers);
    MixerEngine& engine = world.startEngine();
    ASSERT_FALSE(engine.isPaired());
    EXPECT_EQ(engine.phonesController(), nullptr);
    engine.setCue(true, music.bundleID);
    EXPECT_TRUE(engine.volumes().empty());
    EXPECT_TRUE(engine.taps().empty());
    engine.setCue(false, music.bundleID);
    ASSERT_EQ(engine.volumes().count(music.bundleID), 1u);
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
    world.setDefaultOutput(interface);
    world.settle();
    EXPECT_EQ(engine.taps().size(), 3u);
}

TEST_F(MixerEngineBusesTest, CueSurvivesUnpairedDefaultAndReturnsWithPairedOne) {
    MixerEngine& engine = world.startEngine();
    engine.setCue(true, music.bundleID);
    world.setDefaultOutput(speakers);
    world.settle();
    EXPECT_FALSE(engine.isPaired());
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
    // A cued setting is customised: the application keeps a tap, now on the speakers, unpaired.
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_FALSE(engine.tap(music.bundleID)->pairedBuses());
    EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs().front().uid, "speakers-uid");

    world.setDefaultOutput(interface);
    world.settle();
    EXPECT_TRUE(engine.isPaired());
    EXPECT_EQ(modes(), (std::vector<PhonesMode>{PhonesMode::cue, PhonesMode::silent, PhonesMode::silent}));
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(interface, 2), kSineRMS, 0.01);
}

TEST_F(MixerEngineBusesTest, NewPairChoiceRebuildsRunningTapsAtOnce) {
    MixerEngine& engine = world.startEngine();
    engine.setCue(true, music.bundleID);
    world.runAudio(0.2);
    ASSERT_NEAR(world.rms(interface, 2), kSineRMS, 0.01);

    // MAIN on 3/4, PHONES on 1/2.
    engine.setBusPairing("interface-uid", 2, 0);
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(interface, 0), kSineRMS, 0.01) << "the cue moved to outputs 1/2";
    EXPECT_NEAR(world.rms(interface, 2, 0.2), std::sqrt(3.0f) * kSineRMS, 0.03);

    // The same choice again changes no tap.
    const ProcessTap* before = engine.tap(music.bundleID);
    engine.setBusPairing("interface-uid", 2, 0);
    EXPECT_EQ(engine.tap(music.bundleID), before);
}

TEST_F(MixerEngineBusesTest, TapRoutedToTwoDevicesHasNoPairing) {
    MixerEngine& engine = world.startEngine();
    engine.addOutput(*engine.deviceMonitor().device("interface-uid"), world.app(music));
    engine.addOutput(*engine.deviceMonitor().device("speakers-uid"), world.app(music));
    ASSERT_NE(engine.tap(music.bundleID), nullptr);
    EXPECT_EQ(engine.tap(music.bundleID)->activatedOutputs().size(), 2u);
    EXPECT_FALSE(engine.tap(music.bundleID)->pairedBuses());
    world.runAudio(0.2);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01);
}

} // namespace
} // namespace orevant
