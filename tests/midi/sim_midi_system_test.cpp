#include "platform/sim/sim_midi_system.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orevant {
namespace {

// Catches running status lost or kept across system common, a real-time byte that breaks the
// message around it, stray bytes passed on, and system exclusive cut into wrong units.
TEST(MIDIBytesToPacketsTest, MIDI1StreamBecomesUniversalPackets) {
    struct Case {
        const char* stream;
        std::vector<uint8_t> bytes;
        std::vector<uint32_t> words;
    };
    const Case cases[] = {
        {"two channels", {0xB0, 7, 100, 0xB9, 7, 100}, {0x20B00764, 0x20B90764}},
        {"running status, clock inside, one data byte",
         {0x90, 60, 100, 62, 0xF8, 101, 0xC5, 3, 4},
         {0x20903C64, 0x10F80000, 0x20903E65, 0x20C50300, 0x20C50400}},
        {"system common ends running status",
         {5, 0xB0, 1, 2, 0xF3, 9, 3, 0xF4, 1, 0xF6},
         {0x20B00102, 0x10F30900, 0x10F60000}},
        {"incomplete at the end", {0xB0, 7}, {}},
        {"a status interrupts an incomplete message", {0xB0, 7, 0xB1, 1, 2}, {0x20B10102}},
        {"stray data bytes", {5, 6, 0xB0, 1, 2}, {0x20B00102}},
        {"short sysex", {0xF0, 1, 2, 3, 0xF7}, {0x30030102, 0x03000000}},
        {"sysex over six bytes", {0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF7}, {0x30160102, 0x03040506, 0x30310700, 0x00000000}},
        {"empty sysex", {0xF0, 0xF7}, {0x30000000, 0x00000000}},
        {"sysex over twelve bytes",
         {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0xF7},
         {0x30160102, 0x03040506, 0x30260708, 0x090A0B0C, 0x30310D00, 0x00000000}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(midi1BytesToUniversalPackets(std::span<const uint8_t>(c.bytes)), c.words) << c.stream;
}

// Catches packets split at the wrong word count and a truncated packet read past the end.
TEST(MIDIBytesToPacketsTest, EventsAreVisitedByTheirWordCount) {
    auto visits = [](const std::vector<uint32_t>& words) {
        size_t visited = 0;
        forEachMIDIEvent(words, [&](MIDIEventList packet) {
            ++visited;
            EXPECT_EQ(packet.size(), universalPacketWordCount(packet[0]));
        });
        return visited;
    };
    EXPECT_EQ(visits({0x30030102, 0x03000000, 0x20B00764, 0x40B00700, 0xFFFFFFFF, 0x20B00764}), 4u);
    EXPECT_EQ(visits({0x20B00764, 0x40B00700}), 1u);
}

// Catches a source heard before it is connected, a reconnected source that keeps no reference
// value, a disposed port or client still delivering or notified, ports outliving their client,
// and a duplicate unique ID.
TEST(SimMIDISystemTest, SourcesComeAndGoWithNotificationsAndKeptConnections) {
    SimMIDISystem midi;
    std::vector<int32_t> notices;
    std::vector<std::pair<std::vector<uint32_t>, uint64_t>> delivered;
    MIDIClientRef client = 0;
    ASSERT_EQ(midi.clientCreate(
                  "c", [&](int32_t message) { notices.push_back(message); }, &client),
              0);
    MIDIPortRef port = 0;
    ASSERT_EQ(midi.inputPortCreate(
                  client, "p",
                  [&](MIDIEventList list, uint64_t refCon) {
                      delivered.emplace_back(std::vector<uint32_t>(list.begin(), list.end()), refCon);
                  },
                  &port),
              0);

    auto hardware = midi.addSource("USB", true, 5);
    auto software = midi.addSource("Soft", false);
    EXPECT_EQ(notices, (std::vector<int32_t>{kMIDIMsgObjectAdded, kMIDIMsgSetupChanged, kMIDIMsgObjectAdded,
                                             kMIDIMsgSetupChanged}));
    EXPECT_THROW(midi.addSource("Clone", true, 5), std::invalid_argument);
    MIDIEntityRef entity = 0;
    EXPECT_EQ(midi.endpointEntity(hardware, &entity), 0);
    EXPECT_NE(midi.endpointEntity(software, &entity), 0);

    midi.sendControlChange(hardware, 0, 1, 2);
    EXPECT_TRUE(delivered.empty()) << "not connected yet";
    ASSERT_EQ(midi.portConnectSource(port, hardware, 77), 0);
    midi.removeSource(hardware);
    EXPECT_EQ(midi.numberOfSources(), 1u);
    auto back = midi.addSource("USB", true, 5);
    midi.sendControlChange(back, 0, 1, 3);
    midi.sendControlChange(software, 0, 1, 2);
    EXPECT_EQ(delivered, (std::vector<std::pair<std::vector<uint32_t>, uint64_t>>{{{0x20B00103}, 77}}));

    EXPECT_EQ(midi.portDispose(port), 0);
    midi.sendControlChange(back, 0, 1, 3);
    EXPECT_EQ(delivered.size(), 1u);
    ASSERT_EQ(midi.inputPortCreate(client, "q", {}, &port), 0);
    EXPECT_EQ(midi.clientDispose(client), 0);
    EXPECT_EQ(midi.portCount(), 0u) << "a client's ports go with it";
    midi.addSource("Later", false);
    EXPECT_EQ(notices.size(), 8u) << "a disposed client hears nothing";
}

} // namespace
} // namespace orevant
