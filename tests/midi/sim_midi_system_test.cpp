#include "platform/sim/sim_midi_system.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orevant {
namespace {

std::vector<uint32_t> packets(std::initializer_list<uint8_t> bytes) {
    return midi1BytesToUniversalPackets(std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

TEST(MIDIBytesToPacketsTest, MIDI1StreamBecomesUniversalPackets) {
    EXPECT_EQ(packets({0xB0, 7, 100, 0xB9, 7, 100}), (std::vector<uint32_t>{0x20B00764, 0x20B90764}));
    // Running status, a real-time byte inside a message, one-data-byte messages.
    EXPECT_EQ(packets({0x90, 60, 100, 62, 0xF8, 101, 0xC5, 3, 4}),
              (std::vector<uint32_t>{0x20903C64, 0x10F80000, 0x20903E65, 0x20C50300, 0x20C50400}));
    // System common cancels running status; stray data bytes and undefined statuses vanish.
    EXPECT_EQ(packets({5, 0xB0, 1, 2, 0xF3, 9, 3, 0xF4, 1, 0xF6}),
              (std::vector<uint32_t>{0x20B00102, 0x10F30900, 0x10F60000}));
    // An incomplete message at the end is dropped.
    EXPECT_EQ(packets({0xB0, 7}), std::vector<uint32_t>{});
}

TEST(MIDIBytesToPacketsTest, SystemExclusiveIsSplitIntoSixByteUnits) {
    EXPECT_EQ(packets({0xF0, 1, 2, 3, 0xF7}), (std::vector<uint32_t>{0x30030102, 0x03000000}));
    EXPECT_EQ(packets({0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF7}),
              (std::vector<uint32_t>{0x30160102, 0x03040506, 0x30310700, 0x00000000}));
    auto words = packets({0xF0, 0xF7});
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], 0x30000000u);
    size_t visited = 0;
    const std::vector<uint32_t> mixed{0x30030102, 0x03000000, 0x20B00764, 0x40B00700, 0xFFFFFFFF, 0x20B00764};
    forEachMIDIEvent(mixed, [&](MIDIEventList packet) {
        ++visited;
        EXPECT_EQ(packet.size(), universalPacketWordCount(packet[0]));
    });
    EXPECT_EQ(visited, 4u);
    // A truncated packet at the end is not visited.
    const std::vector<uint32_t> truncated{0x20B00764, 0x40B00700};
    visited = 0;
    forEachMIDIEvent(truncated, [&](MIDIEventList) { ++visited; });
    EXPECT_EQ(visited, 1u);
}

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
    ASSERT_EQ(midi.numberOfSources(), 2u);
    EXPECT_EQ(midi.source(0), hardware);
    EXPECT_EQ(midi.source(2), 0u);
    MIDIEntityRef entity = 0;
    EXPECT_EQ(midi.endpointEntity(hardware, &entity), 0);
    EXPECT_NE(entity, 0u);
    EXPECT_NE(midi.endpointEntity(software, &entity), 0);

    midi.sendControlChange(hardware, 0, 1, 2);
    EXPECT_TRUE(delivered.empty()) << "not connected yet";
    ASSERT_EQ(midi.portConnectSource(port, hardware, 77), 0);
    midi.sendControlChange(hardware, 0, 1, 2);
    midi.sendControlChange(software, 0, 1, 2);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].second, 77u);

    midi.removeSource(hardware);
    midi.sendControlChange(hardware, 0, 1, 2);
    EXPECT_EQ(midi.numberOfSources(), 1u);
    auto back = midi.addSource("USB", true, 5);
    midi.sendControlChange(back, 0, 1, 3);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1], (std::pair<std::vector<uint32_t>, uint64_t>{{0x20B00103}, 77}));

    EXPECT_EQ(midi.portDispose(port), 0);
    midi.sendControlChange(back, 0, 1, 3);
    EXPECT_EQ(delivered.size(), 2u);
    EXPECT_EQ(midi.clientDispose(client), 0);
    midi.addSource("Later", false);
    EXPECT_EQ(notices.size(), 8u) << "a disposed client hears nothing";
}

} // namespace
} // namespace orevant
