#pragma once
// The MIDI system of a Linux desktop: the ALSA sequencer.
//
// One sequencer client at a time. Sources are the readable, subscribable ports of every other
// client (the system client's timer and announcement ports excepted); a source is hardware when
// its client is a kernel (driver-backed) client. A source's unique ID is derived from its
// client and port names, so it stays the same while the source exists and when it comes back
// (a controller plugged in again, or after a restart). The client listens to the system's
// announcement port: a port that appears, goes or changes makes a setup-change notification,
// and a source that comes back is connected again to the ports it was connected to.
//
// Threads: the MIDISystem methods run on the main queue; notify and receive procedures run on
// the client's own input thread.
#include "platform/midi_system.h"

#include <array>
#include <memory>
#include <string_view>

struct snd_seq_event; // <alsa/seq_event.h>

namespace orevant {

class AlsaMIDISystem final : public MIDISystem {
public:
    AlsaMIDISystem();
    ~AlsaMIDISystem() override;
    AlsaMIDISystem(const AlsaMIDISystem&) = delete;
    AlsaMIDISystem& operator=(const AlsaMIDISystem&) = delete;

    // Fails with the sequencer's (negative errno) status where there is no sequencer device.
    MIDIStatus clientCreate(const std::string& name, NotifyProc notify, MIDIClientRef* outClient) override;
    MIDIStatus inputPortCreate(MIDIClientRef client, const std::string& name, ReceiveProc receive,
                               MIDIPortRef* outPort) override;
    size_t numberOfSources() override;
    MIDIEndpointRef source(size_t index) override;
    MIDIStatus uniqueID(MIDIObjectRef object, int32_t* outID) override;
    MIDIStatus endpointEntity(MIDIEndpointRef source, MIDIEntityRef* outEntity) override;
    MIDIStatus portConnectSource(MIDIPortRef port, MIDIEndpointRef source, uint64_t sourceRefCon) override;
    MIDIStatus portDispose(MIDIPortRef port) override;
    MIDIStatus clientDispose(MIDIClientRef client) override;

    // The MIDI 1.0 universal MIDI packets (group 0) a sequencer event carries: one for a
    // channel voice or system common / real-time event, two for a 14-bit controller, four for
    // an (N)RPN event, none for anything else (system exclusive included). Pure; any thread.
    struct Packets {
        std::array<uint32_t, 4> words{};
        size_t count = 0;
        MIDIEventList list() const { return MIDIEventList(words.data(), count); }
    };
    static Packets universalPackets(const snd_seq_event& event);

    // The unique ID of a source named so (never 0). Pure; any thread.
    static int32_t uniqueIDFor(std::string_view clientName, std::string_view portName);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orevant
