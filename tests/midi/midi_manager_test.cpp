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

TEST_F(MIDIManagerTest, SetupCreatesNamedClientAndPortAndConnectsEverySource) {
    auto keyboard = midi.addSource("USB Keyboard", true);
    auto virtualSource = midi.addSource("Sequencer Out", false);
    auto manager = makeManager();

    ASSERT_NE(manager->client(), 0u);
    ASSERT_NE(manager->port(), 0u);
    EXPECT_EQ(midi.clientName(manager->client()), "OREVANTMIDIClient");
    EXPECT_EQ(midi.portName(manager->port()), "OREVANTMIDIInputPort");
    EXPECT_EQ(manager->connectedSourceIDs(),
              (std::set<int32_t>{midi.uniqueIDOf(keyboard), midi.uniqueIDOf(virtualSource)}));
    EXPECT_EQ(logs->count("Connecting MIDI sources, count: 2", LogLevel::info), 1u);
    EXPECT_FALSE(manager->lastReceivedCC().has_value());
}

TEST_F(MIDIManagerTest, ControlChangeOnAnyChannelArrivesOnTheMainQueueWithItsSource) {
    auto controller = midi.addSource("USB Controller", true, 4242);
    auto virtualSource = midi.addSource("Software Out", false, -77);
    auto manager = makeManager();
    queue.runUntilIdle();

    midi.sendControlChange(controller, 0, 7, 100); // channel 1
    midi.sendControlChange(controller, 9, 7, 100); // channel 10
    EXPECT_TRUE(received.empty()) << "the MIDI thread only posts; the handler runs on the main queue";
    midi.sendControlChange(virtualSource, 15, 1, 0);
    queue.runUntilIdle();

    EXPECT_EQ(received, (std::vector<Received>{{7, 100, {4242, true}}, {7, 100, {4242, true}}, {1, 0, {-77, false}}}));
    EXPECT_EQ(manager->lastReceivedCC(), (MIDIControlChange{1, 0}));
    EXPECT_EQ(logs->count("CC 7 = 100", LogLevel::debug), 2u);
}

TEST_F(MIDIManagerTest, EveryMessageButControlChangeIsIgnored) {
    auto controller = midi.addSource("Pads", true);
    auto manager = makeManager();
    midi.sendControlChange(controller, 2, 20, 64);
    queue.runUntilIdle();
    received.clear();

    midi.send(controller, {0x90, 60, 100});                      // note on
    midi.send(controller, {0x80, 60, 0});                        // note off
    midi.send(controller, {0xE0, 0x00, 0x40});                   // pitch bend
    midi.send(controller, {0xC3, 5});                            // program change
    midi.send(controller, {0xD0, 90});                           // channel pressure
    midi.send(controller, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}); // system exclusive
    midi.send(controller, {0xF8, 0xFA, 0xF2, 0x10, 0x20});       // clock, start, song position
    // A MIDI 2.0 control change (message type 4) is not a MIDI 1.0 one.
    const uint32_t midi2CC[] = {0x40B00700, 0xFFFFFFFF};
    midi.sendPackets(controller, midi2CC);
    queue.runUntilIdle();

    EXPECT_TRUE(received.empty());
    EXPECT_EQ(manager->lastReceivedCC(), (MIDIControlChange{20, 64}));

    // A control change in running status behind a note still gets through, clock bytes and all.
    midi.send(controller, {0x90, 60, 100, 0xB1, 11, 5, 0xF8, 12, 6});
    queue.runUntilIdle();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].number, 11);
    EXPECT_EQ(received[1].number, 12);
    EXPECT_EQ(received[1].value, 6);
}

TEST_F(MIDIManagerTest, SetupChangeRunsOneMoreConnectionPassThatSkipsConnectedSources) {
    auto first = midi.addSource("Keyboard", true);
    auto manager = makeManager();
    EXPECT_EQ(logs->count("Connecting MIDI sources, count: 1"), 1u);

    auto plugged = midi.addSource("Faders", true);
    queue.runUntilIdle();
    EXPECT_EQ(logs->count("Connecting MIDI sources, count: 2"), 1u);
    EXPECT_EQ(logs->count("Connecting MIDI sources"), 2u) << "object-added notices start no pass of their own";
    EXPECT_EQ(midi.connectCount(midi.uniqueIDOf(first)), 1u);
    EXPECT_EQ(midi.connectCount(midi.uniqueIDOf(plugged)), 1u);

    // Unplugged and plugged back with the same unique ID: not connected again, still heard.
    int32_t id = midi.uniqueIDOf(plugged);
    midi.removeSource(plugged);
    plugged = midi.addSource("Faders", true, id);
    queue.runUntilIdle();
    EXPECT_EQ(midi.connectCount(id), 1u);
    midi.sendControlChange(plugged, 0, 3, 33);
    queue.runUntilIdle();
    EXPECT_EQ(received, (std::vector<Received>{{3, 33, {id, true}}}));
}

TEST_F(MIDIManagerTest, FailedConnectionIsLoggedAndTriedAgainAtTheNextSetupChange) {
    auto ok = midi.addSource("Good", true, 10);
    auto bad = midi.addSource("Flaky", false, 11);
    midi.failConnect(11, -50);
    auto manager = makeManager();

    EXPECT_EQ(logs->count("Virhe yhdistettäessä MIDI-lähteeseen 1: -50", LogLevel::error), 1u);
    EXPECT_EQ(manager->connectedSourceIDs(), (std::set<int32_t>{10}));
    midi.sendControlChange(bad, 0, 1, 1);
    queue.runUntilIdle();
    EXPECT_TRUE(received.empty());

    midi.failConnect(11, 0);
    midi.notifySetupChanged();
    queue.runUntilIdle();
    EXPECT_EQ(manager->connectedSourceIDs(), (std::set<int32_t>{10, 11}));
    EXPECT_EQ(midi.connectCount(10), 1u);
    midi.sendControlChange(bad, 0, 1, 1);
    queue.runUntilIdle();
    EXPECT_EQ(received.size(), 1u);
    (void)ok;
}

TEST_F(MIDIManagerTest, UnreadableUniqueIDCountsAsZero) {
    auto source = midi.addSource("Odd", true);
    midi.failUniqueIDRead(source, -10835);
    auto manager = makeManager();
    EXPECT_EQ(manager->connectedSourceIDs(), (std::set<int32_t>{0}));
}

TEST_F(MIDIManagerTest, WithoutClientOrPortMIDIStaysOff) {
    auto source = midi.addSource("Keyboard", true);
    {
        midi.failClientCreate(-10830);
        auto manager = makeManager();
        EXPECT_EQ(logs->count("MIDI-asiakkaan luonti epäonnistui: -10830", LogLevel::error), 1u);
        EXPECT_EQ(manager->client(), 0u);
        EXPECT_EQ(manager->port(), 0u);
        midi.notifySetupChanged();
        queue.runUntilIdle();
        EXPECT_EQ(midi.clientCount(), 0u);
        midi.failClientCreate(0);
    }
    {
        midi.failInputPortCreate(-10831);
        auto manager = makeManager();
        EXPECT_EQ(logs->count("MIDI-syöteportin luonti epäonnistui: -10831", LogLevel::error), 1u);
        EXPECT_NE(manager->client(), 0u);
        EXPECT_EQ(manager->port(), 0u);
        midi.notifySetupChanged(); // the client hears it, but there is no port to connect to
        queue.runUntilIdle();
        midi.sendControlChange(source, 0, 7, 1);
        queue.runUntilIdle();
        EXPECT_TRUE(manager->connectedSourceIDs().empty());
    }
    EXPECT_EQ(logs->count("Connecting MIDI sources"), 0u);
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(midi.clientCount(), 0u) << "the client made before the port failed is disposed of";
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

TEST(MIDISourceTest, PackedReferenceValueCarriesIDAndHardwareFlag) {
    EXPECT_EQ((MIDISource{5, false}).packed(), (uint64_t(1) << 33) | 5u);
    EXPECT_EQ((MIDISource{5, true}).packed(), (uint64_t(3) << 32) | 5u);
    for (MIDISource source :
         {MIDISource{0, false}, MIDISource{-1, true}, MIDISource{INT32_MIN, false}, MIDISource{INT32_MAX, true}}) {
        EXPECT_NE(source.packed(), 0u);
        EXPECT_EQ(MIDISource::unpack(source.packed()), source);
    }
}

} // namespace
} // namespace orevant
