#include "midi/midi_manager.h"
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
    ev.data.control.channel = channel;
    ev.data.control.param = param;
    ev.data.control.value = value;
    return ev;
}

std::vector<uint32_t> words(const snd_seq_event_t& ev) {
    auto packets = AlsaMIDISystem::universalPackets(ev);
    return std::vector<uint32_t>(packets.words.begin(), packets.words.begin() + packets.count);
}

// Catches a lost channel, a 14-bit controller or NRPN not split into its MIDI 1.0 controllers,
// an out-of-range controller number wrapped into a valid one, and events the sequencer uses for
// itself passed on as MIDI.
TEST(AlsaMIDISystemTest, SequencerEventsBecomeMIDI1Packets) {
    snd_seq_event_t note{};
    note.type = SND_SEQ_EVENT_NOTEON;
    note.data.note.channel = 2;
    note.data.note.note = 60;
    note.data.note.velocity = 90;
    struct Case {
        const char* event;
        snd_seq_event_t ev;
        std::vector<uint32_t> words;
    };
    const Case cases[] = {
        {"controller, channel 10", event(SND_SEQ_EVENT_CONTROLLER, 9, 7, 100), {0x20B90764}},
        {"14-bit controller", event(SND_SEQ_EVENT_CONTROL14, 3, 7, (100 << 7) | 5), {0x20B30764, 0x20B32705}},
        {"NRPN",
         event(SND_SEQ_EVENT_NONREGPARAM, 0, (1 << 7) | 2, (3 << 7) | 4),
         {0x20B06301, 0x20B06202, 0x20B00603, 0x20B02604}},
        {"controller 300", event(SND_SEQ_EVENT_CONTROLLER, 0, 300, 1), {}},
        {"note on", note, {0x20923C5A}},
        {"pitch bend", event(SND_SEQ_EVENT_PITCHBEND, 1, 0, -8192), {0x20E10000}},
        {"clock", event(SND_SEQ_EVENT_CLOCK, 0, 0, 0), {0x10F80000}},
        {"sysex", event(SND_SEQ_EVENT_SYSEX, 0, 7, 100), {}},
        {"port start", event(SND_SEQ_EVENT_PORT_START, 0, 7, 100), {}},
        {"echo", event(SND_SEQ_EVENT_ECHO, 0, 7, 100), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(words(c.ev), c.words) << c.event;
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
    ManualMainQueue queue;
    AlsaMIDISystem alsa;
    MIDIClientRef client = 0;
    EXPECT_LT(alsa.clientCreate("OREVANTMIDIClient", {}, &client), 0);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(alsa.numberOfSources(), 0u);
    MIDIManager manager(alsa, queue);
    EXPECT_EQ(manager.client(), 0u);
    queue.runUntilIdle();
}

} // namespace
} // namespace orevant
