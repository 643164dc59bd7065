// MIDI input and the mapping store wired together as the engine wires them: each control change
// goes through learnOrLookup, and a target that comes back gets the value scaled to 0...1.
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_midi_system.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orevant {
namespace {

struct Applied {
    std::string target;
    float value;
    bool operator==(const Applied&) const = default;
};

TEST(MIDILearnFlowTest, LearnFromAControllerThenDriveOnlyFromIt) {
    ScopedLogCapture logs;
    ManualMainQueue queue;
    SimMIDISystem midi;
    InMemoryDefaultsStore defaults;
    auto usb = midi.addSource("USB Faders", true);
    auto software = midi.addSource("Software Out", false);

    MIDIManager input(midi, queue);
    MIDIMappingManager mapping(defaults);
    std::vector<Applied> applied;
    input.onControlChangeReceived = [&](int number, int value, MIDISource source) {
        if (auto target = mapping.learnOrLookup(number, source))
            applied.push_back({*target, float(std::clamp(value, 0, 127)) / 127.0f});
    };

    mapping.setLearningTarget("bus:main");
    midi.sendControlChange(usb, 0, 7, 90);
    queue.runUntilIdle();
    EXPECT_TRUE(applied.empty()) << "the learning movement is not applied";
    EXPECT_EQ(mapping.mappings().at("7"), (MIDIMapping{"bus:main", midi.uniqueIDOf(usb)}));

    midi.sendControlChange(usb, 9, 7, 127);     // another channel of the same controller
    midi.sendControlChange(software, 0, 7, 10); // the same number from another source
    midi.send(usb, {0x90, 7, 100});             // a note with the same number
    midi.sendControlChange(usb, 0, 7, 0);
    queue.runUntilIdle();
    EXPECT_EQ(applied, (std::vector<Applied>{{"bus:main", 1.0f}, {"bus:main", 0.0f}}));
    EXPECT_EQ(input.lastReceivedCC(), (MIDIControlChange{7, 0}));

    // After a restart the learned mapping still answers the same controller, plugged in again.
    int32_t id = midi.uniqueIDOf(usb);
    midi.removeSource(usb);
    usb = midi.addSource("USB Faders", true, id);
    queue.runUntilIdle();
    MIDIMappingManager restarted(defaults);
    EXPECT_EQ(restarted.target(7, MIDISource{id, true}), "bus:main");
}

} // namespace
} // namespace orevant
