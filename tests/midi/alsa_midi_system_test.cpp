#include "midi/midi_manager.h"
#include "platform/capture_log_sink.h"
#include "platform/linux/alsa_midi_system.h"
#include "platform/manual_main_queue.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace orevant {
namespace {

snd_seq_event_t event(snd_seq_event_type_t type, uint8_t channel, unsigned param, int value) {
    snd_seq_event_t ev{};
    ev.type = type;
    ev.source.client = 24;
    ev.source.port = 0;
    ev.data.control.channel = channel;
    ev.data.control.param = param;
    ev.data.control.value = value;
    return ev;
}

std::vector<MIDIControlChange> controlChanges(const snd_seq_event_t& ev) {
    std::vector<MIDIControlChange> found;
    auto packets = AlsaMIDISystem::universalPackets(ev);
    forEachMIDIEvent(packets.list(), [&](MIDIEventList packet) {
        if (auto cc = MIDIManager::controlChange(packet)) found.push_back(*cc);
    });
    return found;
}

TEST(AlsaMIDISystemTest, ControllerEventsOfAnyChannelBecomeControlChanges) {
    EXPECT_EQ(controlChanges(event(SND_SEQ_EVENT_CONTROLLER, 0, 7, 100)), (std::vector<MIDIControlChange>{{7, 100}}));
    EXPECT_EQ(controlChanges(event(SND_SEQ_EVENT_CONTROLLER, 9, 7, 100)), (std::vector<MIDIControlChange>{{7, 100}}));
    auto packets = AlsaMIDISystem::universalPackets(event(SND_SEQ_EVENT_CONTROLLER, 9, 7, 100));
    ASSERT_EQ(packets.count, 1u);
    EXPECT_EQ(packets.words[0], 0x20B90764u);

    // A 14-bit controller is its coarse and fine halves; an NRPN is its four controllers.
    EXPECT_EQ(controlChanges(event(SND_SEQ_EVENT_CONTROL14, 3, 7, (100 << 7) | 5)),
              (std::vector<MIDIControlChange>{{7, 100}, {39, 5}}));
    EXPECT_EQ(controlChanges(event(SND_SEQ_EVENT_NONREGPARAM, 0, (1 << 7) | 2, (3 << 7) | 4)),
              (std::vector<MIDIControlChange>{{99, 1}, {98, 2}, {6, 3}, {38, 4}}));
    // Out-of-range controller numbers are not MIDI 1.0 messages at all.
    EXPECT_EQ(AlsaMIDISystem::universalPackets(event(SND_SEQ_EVENT_CONTROLLER, 0, 300, 1)).count, 0u);
}

TEST(AlsaMIDISystemTest, OtherEventsCarryNoControlChange) {
    snd_seq_event_t note{};
    note.type = SND_SEQ_EVENT_NOTEON;
    note.data.note.channel = 2;
    note.data.note.note = 60;
    note.data.note.velocity = 90;
    auto packets = AlsaMIDISystem::universalPackets(note);
    ASSERT_EQ(packets.count, 1u);
    EXPECT_EQ(packets.words[0], 0x20923C5Au);
    EXPECT_TRUE(controlChanges(note).empty());

    auto bend = AlsaMIDISystem::universalPackets(event(SND_SEQ_EVENT_PITCHBEND, 1, 0, -8192));
    ASSERT_EQ(bend.count, 1u);
    EXPECT_EQ(bend.words[0], 0x20E10000u);
    for (auto type : {SND_SEQ_EVENT_PGMCHANGE, SND_SEQ_EVENT_CHANPRESS, SND_SEQ_EVENT_PITCHBEND, SND_SEQ_EVENT_CLOCK,
                      SND_SEQ_EVENT_START, SND_SEQ_EVENT_SONGPOS})
        EXPECT_TRUE(controlChanges(event(type, 0, 7, 100)).empty()) << int(type);
    for (auto type : {SND_SEQ_EVENT_SYSEX, SND_SEQ_EVENT_PORT_START, SND_SEQ_EVENT_ECHO})
        EXPECT_EQ(AlsaMIDISystem::universalPackets(event(type, 0, 7, 100)).count, 0u) << int(type);
    auto clock = AlsaMIDISystem::universalPackets(event(SND_SEQ_EVENT_CLOCK, 0, 0, 0));
    ASSERT_EQ(clock.count, 1u);
    EXPECT_EQ(clock.words[0], 0x10F80000u);
}

TEST(AlsaMIDISystemTest, UniqueIDsFollowTheNames) {
    int32_t id = AlsaMIDISystem::uniqueIDFor("nanoKONTROL2", "nanoKONTROL2 MIDI 1");
    EXPECT_EQ(id, AlsaMIDISystem::uniqueIDFor("nanoKONTROL2", "nanoKONTROL2 MIDI 1"));
    EXPECT_NE(id, 0);
    EXPECT_NE(id, AlsaMIDISystem::uniqueIDFor("nanoKONTROL2", "nanoKONTROL2 MIDI 2"));
    EXPECT_NE(AlsaMIDISystem::uniqueIDFor("ab", "c"), AlsaMIDISystem::uniqueIDFor("a", "bc"));
}

TEST(AlsaMIDISystemTest, WithoutSequencerDeviceTheAgentRunsWithoutMIDI) {
    if (std::filesystem::exists("/dev/snd/seq")) GTEST_SKIP() << "this machine has a sequencer device";
    ScopedLogCapture logs;
    ManualMainQueue queue;
    AlsaMIDISystem alsa;
    MIDIClientRef client = 0;
    MIDIStatus status = alsa.clientCreate("OREVANTMIDIClient", {}, &client);
    EXPECT_LT(status, 0);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(alsa.numberOfSources(), 0u);

    MIDIManager manager(alsa, queue);
    EXPECT_EQ(manager.client(), 0u);
    EXPECT_EQ(manager.port(), 0u);
    EXPECT_EQ(logs->count(strprintf("MIDI-asiakkaan luonti epäonnistui: %d", status), LogLevel::error), 1u);
    queue.runUntilIdle();
    EXPECT_EQ(logs->count("Connecting MIDI sources"), 0u);
}

} // namespace
} // namespace orevant
