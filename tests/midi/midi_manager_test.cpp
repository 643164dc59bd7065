#include "midi/midi_manager.h"
#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_midi_system.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orevant {
namespace {

struct Received {
    int number;
    int value;
    MIDISource source;
    bool operator==(const Received&) const = default;
};

class MIDIManagerTest : public ::testing::Test {
protected:
    std::unique_ptr<MIDIManager> makeManager() {
        auto manager = std::make_unique<MIDIManager>(midi, queue);
        manager->onControlChangeReceived = [this](int number, int value, MIDISource source) {
            EXPECT_TRUE(queue.isCurrent());
            received.push_back({number, value, source});
        };
        return manager;
    }

    ScopedLogCapture logs;
    ManualMainQueue queue;
    SimMIDISystem midi;
    std::vector<Received> received;
};

// Catches a handler run on the MIDI thread, a channel filter, a lost or wrong source and
// hardware flag (an unreadable unique ID is 0), and a source left unconnected at start.
TEST_F(MIDIManagerTest, ControlChangeOnAnyChannelArrivesOnTheMainQueueWithItsSource) {
    auto controller = midi.addSource("USB Controller", true, 4242);
    auto virtualSource = midi.addSource("Software Out", false, -77);
    auto odd = midi.addSource("Odd", true, 5);
    midi.failUniqueIDRead(odd, -10835); // counts as 0
    auto manager = makeManager();
    EXPECT_EQ(midi.clientName(manager->client()), "OREVANTMIDIClient");
    EXPECT_EQ(midi.portName(manager->port()), "OREVANTMIDIInputPort");

    midi.sendControlChange(controller, 0, 7, 100); // channel 1
    midi.sendControlChange(controller, 9, 7, 100); // channel 10
    EXPECT_TRUE(received.empty()) << "the MIDI thread only posts; the handler runs on the main queue";
    midi.sendControlChange(odd, 0, 2, 3);
    midi.sendControlChange(virtualSource, 15, 1, 0);
    queue.runUntilIdle();
    EXPECT_EQ(received, (std::vector<Received>{
                            {7, 100, {4242, true}}, {7, 100, {4242, true}}, {2, 3, {0, true}}, {1, 0, {-77, false}}}));
    EXPECT_EQ(manager->lastReceivedCC(), (MIDIControlChange{1, 0}));
}

// Catches a note, a MIDI 2.0 control change or any other message taken for a MIDI 1.0 control change.
TEST_F(MIDIManagerTest, EveryMessageButControlChangeIsIgnored) {
    auto controller = midi.addSource("Pads", true);
    auto manager = makeManager();
    // Note on and off, pitch bend, program change, channel pressure, system exclusive, clock,
    // start and song position.
    midi.send(controller, {0x90, 60,   100,  0x80, 60,   0,    0xE0, 0x00, 0x40, 0xC3, 5,    0xD0,
                           90,   0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7, 0xF8, 0xFA, 0xF2, 0x10, 0x20});
    // A MIDI 2.0 control change (message type 4) is not a MIDI 1.0 one.
    const uint32_t midi2CC[] = {0x40B00700, 0xFFFFFFFF};
    midi.sendPackets(controller, midi2CC);
    queue.runUntilIdle();
    EXPECT_TRUE(received.empty());

    // A control change in running status behind a note still gets through, clock bytes and all.
    midi.send(controller, {0x90, 60, 100, 0xB1, 11, 5, 0xF8, 12, 6});
    queue.runUntilIdle();
    const MIDISource pads{midi.uniqueIDOf(controller), true};
    EXPECT_EQ(received, (std::vector<Received>{{11, 5, pads}, {12, 6, pads}}));
}

// Catches a plugged-in source that is never connected, a connected one connected again (it would
// be heard twice), a failed connection that is not tried again or not said with its status.
TEST_F(MIDIManagerTest, SetupChangesConnectNewAndFailedSourcesOnce) {
    auto first = midi.addSource("Keyboard", true, 10);
    auto flaky = midi.addSource("Flaky", false, 11);
    midi.failConnect(11, -50);
    auto manager = makeManager();
    auto plugged = midi.addSource("Faders", true, 12); // one pass for the setup change, none for the object added
    queue.runUntilIdle();
    EXPECT_EQ(manager->connectedSourceIDs(), (std::set<int32_t>{10, 12}));
    EXPECT_EQ(logs->count("Connecting MIDI sources, count: 2", LogLevel::info), 1u);
    EXPECT_EQ(logs->count("Connecting MIDI sources, count: 3", LogLevel::info), 1u);
    EXPECT_EQ(logs->count("Virhe yhdistettäessä MIDI-lähteeseen 1: -50", LogLevel::error), 2u) << "once a pass";

    // Unplugged and plugged back with the same unique ID: not connected again, still heard.
    midi.removeSource(plugged);
    plugged = midi.addSource("Faders", true, 12);
    midi.failConnect(11, 0);
    midi.notifySetupChanged();
    queue.runUntilIdle();
    EXPECT_EQ(manager->connectedSourceIDs(), (std::set<int32_t>{10, 11, 12}));
    for (int32_t id : {10, 11, 12}) EXPECT_EQ(midi.connectCount(id), 1u) << id;
    midi.sendControlChange(plugged, 0, 3, 33);
    midi.sendControlChange(flaky, 0, 4, 44);
    queue.runUntilIdle();
    EXPECT_EQ(received, (std::vector<Received>{{3, 33, {12, true}}, {4, 44, {11, false}}}));
    (void)first;
}

// Catches a half-made manager that connects, delivers or leaks its client when the client or
// its port cannot be made, and a failure not said with its status.
TEST_F(MIDIManagerTest, WithoutClientOrPortMIDIStaysOff) {
    auto source = midi.addSource("Keyboard", true);
    midi.failClientCreate(-10830);
    {
        auto manager = makeManager();
        EXPECT_EQ(manager->client(), 0u);
        midi.notifySetupChanged();
        queue.runUntilIdle();
        EXPECT_EQ(midi.clientCount(), 0u);
    }
    midi.failClientCreate(0);
    midi.failInputPortCreate(-10831);
    {
        auto manager = makeManager();
        EXPECT_EQ(manager->port(), 0u);
        midi.notifySetupChanged(); // the client hears it, but there is no port to connect to
        midi.sendControlChange(source, 0, 7, 1);
        queue.runUntilIdle();
        EXPECT_TRUE(manager->connectedSourceIDs().empty());
    }
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(midi.clientCount(), 0u) << "the client made before the port failed is disposed of";
    EXPECT_EQ(logs->count("MIDI-syöteportin luonti epäonnistui: -10831", LogLevel::error), 1u);
    EXPECT_EQ(logs->count("MIDI-asiakkaan luonti epäonnistui: -10830", LogLevel::error), 1u);
}

TEST_F(MIDIManagerTest, EventsFromAnotherThreadAndAfterDestructionAreSafe) {
    auto source = midi.addSource("Keyboard", true);
    auto manager = makeManager();
    std::thread midiThread([&] {
        for (int i = 0; i < 100; ++i) midi.sendControlChange(source, uint8_t(i % 16), uint8_t(i), uint8_t(127 - i));
    });
    midiThread.join();
    queue.runUntilIdle();
    ASSERT_EQ(received.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(received[size_t(i)], (Received{i, 127 - i, {midi.uniqueIDOf(source), true}}));

    // Posted before the manager went away: the task finds nothing to call.
    midi.sendControlChange(source, 0, 9, 9);
    midi.notifySetupChanged();
    manager.reset();
    EXPECT_EQ(midi.clientCount(), 0u);
    EXPECT_EQ(midi.portCount(), 0u);
    queue.runUntilIdle();
    EXPECT_EQ(received.size(), 100u);
}

// Catches an ID or hardware flag lost in the reference value, and a packed value of 0 (which
// the system treats as none).
TEST(MIDISourceTest, PackedReferenceValueCarriesIDAndHardwareFlag) {
    for (MIDISource source :
         {MIDISource{0, false}, MIDISource{-1, true}, MIDISource{INT32_MIN, false}, MIDISource{INT32_MAX, true}}) {
        EXPECT_NE(source.packed(), 0u);
        EXPECT_EQ(MIDISource::unpack(source.packed()), source);
    }
}

} // namespace
} // namespace orevant
