#include "engine/mixer_engine.h"

#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "platform/sim/sim_midi_system.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;

float cubed(float v) { return v * v * v; }

// Speakers, two playing applications, and a MIDI system with two USB controllers.
class MIDIControlTest : public ::testing::Test {
protected:
    // Outlives the engine, whose MIDI manager disposes of its client and port here.
    SimMIDISystem midi;
    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    MIDIEndpointRef faders = midi.addSource("USB Faders", true);
    MIDIEndpointRef knobs = midi.addSource("USB Knobs", true);

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

// Faults: the learning movement applied, a controller not scaled to 0...1 before the gain law,
// a mapping that answers any source; the engine must still run when MIDI cannot start.
TEST_F(MIDIControlTest, LearnedControllerDrivesAnApplicationsVolumeThatTheListenerHears) {
    MixerEngine& engine = start();
    engine.midiMapping().setLearningTarget(music.bundleID);
    move(faders, 7, 10);
    ASSERT_EQ(engine.midiMapping().mappings().count("7"), 1u);
    EXPECT_EQ(engine.midiMapping().mappings().at("7").sourceID, std::optional<int32_t>(midi.uniqueIDOf(faders)));
    EXPECT_TRUE(engine.volumes().empty()) << "the learning movement is not applied";

    move(faders, 7, 64);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 64.0f / 127.0f);
    world.runAudio(0.3);
    const float heard = kSineRMS * cubed(64.0f / 127.0f);
    EXPECT_NEAR(world.rms(speakers, 0), std::sqrt(heard * heard + kSineRMS * kSineRMS), 0.01);

    move(knobs, 7, 127);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 64.0f / 127.0f) << "another source drives nothing";
    move(faders, 7, 0, 9);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.0f) << "any channel";
}

TEST_F(MIDIControlTest, EngineRunsOnWithoutMIDIWhenTheClientCannotBeMade) {
    midi.failClientCreate(-50);
    world.makeEngine([this](MixerEngine::Services& services) { services.midiSystem = &midi; });
    MixerEngine& engine = world.startEngine();
    EXPECT_EQ(engine.midiManager(), nullptr);
    move(faders, 7, 0);
    engine.setVolume(0.5f, world.app(music));
    EXPECT_NE(engine.tap(music.bundleID), nullptr);
}

} // namespace
} // namespace orevant
