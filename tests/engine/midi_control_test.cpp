#include "engine/mixer_engine.h"

#include "audio/system_volume_controller.h"
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "platform/sim/sim_midi_system.h"
#include "remote/osc_listener.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;

float cubed(float v) { return v * v * v; }

// Speakers and a 4-channel interface, two playing applications, and a MIDI system with two USB
// controllers and one software (virtual) source.
class MIDIControlTest : public ::testing::Test {
protected:
    // Outlives the engine, whose MIDI manager disposes of its client and port here.
    SimMIDISystem midi;
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    MIDIEndpointRef faders = midi.addSource("USB Faders", true);
    MIDIEndpointRef knobs = midi.addSource("USB Knobs", true);
    MIDIEndpointRef software = midi.addSource("Software Keyboard", false);

    MixerEngine& start() {
        world.makeEngine([this](MixerEngine::Services& services) { services.midiSystem = &midi; });
        MixerEngine& engine = world.startEngine();
        EXPECT_NE(engine.midiManager(), nullptr);
        return engine;
    }

    // A controller movement as the MIDI system's thread delivers it, then the main queue runs.
    void move(MIDIEndpointRef source, uint8_t controller, uint8_t value, uint8_t channel = 0) {
        midi.sendControlChange(source, channel, controller, value);
        world.queue.runUntilIdle();
    }
};

TEST_F(MIDIControlTest, LearnedControllerDrivesAnApplicationsVolumeThatTheListenerHears) {
    MixerEngine& engine = start();
    world.runAudio(0.1);
    ASSERT_NEAR(world.rms(speakers, 0), std::sqrt(2.0f) * kSineRMS, 0.02);

    engine.midiMapping().setLearningTarget(music.bundleID);
    move(faders, 7, 10);
    EXPECT_FALSE(engine.midiMapping().learningTarget().has_value());
    ASSERT_EQ(engine.midiMapping().mappings().count("7"), 1u);
    EXPECT_EQ(engine.midiMapping().mappings().at("7").target, music.bundleID);
    EXPECT_EQ(engine.midiMapping().mappings().at("7").sourceID, std::optional<int32_t>(midi.uniqueIDOf(faders)));
    EXPECT_TRUE(engine.volumes().empty()) << "the learning movement is not applied";
    EXPECT_EQ(engine.tap(music.bundleID), nullptr);

    move(faders, 7, 64);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 64.0f / 127.0f);
    world.runAudio(0.3);
    const float heard = kSineRMS * cubed(64.0f / 127.0f);
    EXPECT_NEAR(world.rms(speakers, 0), std::sqrt(heard * heard + kSineRMS * kSineRMS), 0.01);

    // Any channel: controller 7 on channel 10 arrives alike.
    move(faders, 7, 0, 9);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.0f);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(speakers, 0), kSineRMS, 0.01) << "music silent, video at unity";

    // Other messages change nothing: a note-on, pitch bend, and a different controller.
    midi.send(faders, {0x90, 7, 100});
    midi.send(faders, {0xE0, 0x00, 0x7F});
    move(faders, 8, 127);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.0f);

    move(faders, 7, 127);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 1.0f);
}

TEST_F(MIDIControlTest, MappingsStayWithTheirSourceAndVirtualSourcesNeverBindThem) {
    world.setDefaultOutput(speakers);
    MixerEngine& engine = start();

    // Learned on the faders: the knobs sending controller 7 drive nothing.
    engine.midiMapping().setLearningTarget("bus:main");
    move(faders, 7, 100);
    move(knobs, 7, 20);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 1.0f);
    move(faders, 7, 20);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 20.0f / 127.0f);

    // Learned from the phone's numbered control: unbound.
    engine.midiMapping().setLearningTarget(video.bundleID);
    engine.oscListener().dispatch("/orevant/11", 0.9f);
    ASSERT_EQ(engine.midiMapping().mappings().at("11").sourceID, std::nullopt);
    EXPECT_FALSE(engine.volumes().count(video.bundleID)) << "the learning message is not applied";
    engine.oscListener().dispatch("/orevant/11", 0.25f);
    EXPECT_FLOAT_EQ(engine.volumes().at(video.bundleID).volume, 0.25f) << "the phone value is used as given";

    // A software source neither drives nor binds it.
    move(software, 11, 127);
    EXPECT_FLOAT_EQ(engine.volumes().at(video.bundleID).volume, 0.25f);
    EXPECT_EQ(engine.midiMapping().mappings().at("11").sourceID, std::nullopt);

    // The first hardware controller that sends 11 takes it; the other is ignored from then on.
    move(knobs, 11, 127);
    EXPECT_FLOAT_EQ(engine.volumes().at(video.bundleID).volume, 1.0f);
    EXPECT_EQ(engine.midiMapping().mappings().at("11").sourceID, std::optional<int32_t>(midi.uniqueIDOf(knobs)));
    EXPECT_TRUE(world.logs->contains("MIDI CC 11 sidottu lähteeseen " + std::to_string(midi.uniqueIDOf(knobs))));
    move(faders, 11, 0);
    EXPECT_FLOAT_EQ(engine.volumes().at(video.bundleID).volume, 1.0f);
    engine.oscListener().dispatch("/orevant/11", 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(video.bundleID).volume, 0.5f) << "the phone still drives it";

    // The bindings survive a restart.
    world.dropEngine();
    MixerEngine& again = start();
    move(knobs, 11, 0);
    EXPECT_FLOAT_EQ(again.volumes().at(video.bundleID).volume, 0.0f);
}

TEST_F(MIDIControlTest, ButtonValueOf64PressesASwitchAndItsReleaseDoesNothing) {
    world.setDefaultOutput(interface);
    MixerEngine& engine = start();
    ASSERT_TRUE(engine.isPaired());
    engine.midiMapping().setLearningTarget("cue:" + music.bundleID);
    move(faders, 20, 127);
    ASSERT_FALSE(engine.volumes().count(music.bundleID));

    move(faders, 20, 64);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
    move(faders, 20, 0);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
    move(faders, 20, 63);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
    move(faders, 20, 127);
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
}

TEST_F(MIDIControlTest, EngineRunsOnWithoutMIDIWhenTheClientCannotBeMade) {
    midi.failClientCreate(-50);
    world.makeEngine([this](MixerEngine::Services& services) { services.midiSystem = &midi; });
    MixerEngine& engine = world.startEngine();
    EXPECT_EQ(engine.midiManager(), nullptr);
    EXPECT_TRUE(world.logs->contains("MIDI-asiakkaan luonti epäonnistui: -50"));
    move(faders, 7, 0);
    engine.setVolume(0.5f, world.app(music));
    EXPECT_NE(engine.tap(music.bundleID), nullptr);
}

} // namespace
} // namespace orevant
