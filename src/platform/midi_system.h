#pragma once
// The MIDI system: a client with input ports that listen to the system's MIDI sources.
//
// Incoming messages reach an input port as MIDI 1.0 universal MIDI packets (32-bit words; a
// MIDI 1.0 channel voice message is one word of message type 2), whatever the source sent.
//
// Threads: every method is called from the main queue. The notify procedure of a client and the
// receive procedure of a port run on a thread of the MIDI system (any thread); they must only
// read their arguments and schedule work. After portDispose returns, the port's receive
// procedure is neither running nor called again; after clientDispose, the same holds for the
// client's notify procedure.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace orevant {

using MIDIObjectRef = uint32_t; // 0: no object
using MIDIClientRef = MIDIObjectRef;
using MIDIPortRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;
using MIDIEntityRef = MIDIObjectRef;
using MIDIStatus = int32_t; // 0: success

namespace midi_status {
inline constexpr MIDIStatus noError = 0;
inline constexpr MIDIStatus invalidClient = -10830;
inline constexpr MIDIStatus invalidPort = -10831;
inline constexpr MIDIStatus noConnection = -10833;
inline constexpr MIDIStatus unknownEndpoint = -10834;
inline constexpr MIDIStatus unknownProperty = -10835;
inline constexpr MIDIStatus objectNotFound = -10842;
} // namespace midi_status

// Notification message IDs given to a client's notify procedure.
inline constexpr int32_t kMIDIMsgSetupChanged = 1;
inline constexpr int32_t kMIDIMsgObjectAdded = 2;
inline constexpr int32_t kMIDIMsgObjectRemoved = 3;

// A run of universal MIDI packet words, as delivered to a port.
using MIDIEventList = std::span<const uint32_t>;

// Number of 32-bit words of a universal MIDI packet, from its first word's message type.
constexpr size_t universalPacketWordCount(uint32_t firstWord) {
    constexpr uint8_t sizes[16] = {1, 1, 1, 2, 2, 4, 1, 1, 2, 2, 2, 3, 3, 4, 4, 4};
    return sizes[(firstWord >> 28) & 0xF];
}

// Visits each packet of `list` in order; a truncated last packet is not visited. Any thread.
template <typename Visitor>
void forEachMIDIEvent(MIDIEventList list, Visitor&& visit) {
    size_t i = 0;
    while (i < list.size()) {
        size_t n = universalPacketWordCount(list[i]);
        if (i + n > list.size()) return;
        visit(list.subspan(i, n));
        i += n;
    }
}

// Converts a MIDI 1.0 byte stream (running status, interleaved real-time bytes and system
// exclusive included) into MIDI 1.0 universal MIDI packets for `group`. Incomplete messages and
// stray data bytes are dropped. Any thread (allocates).
std::vector<uint32_t> midi1BytesToUniversalPackets(std::span<const uint8_t> bytes, uint8_t group = 0);

class MIDISystem {
public:
    using NotifyProc = std::function<void(int32_t messageID)>;
    // `sourceRefCon` is the value given to portConnectSource for the source the list came from.
    using ReceiveProc = std::function<void(MIDIEventList list, uint64_t sourceRefCon)>;

    virtual ~MIDISystem() = default;

    virtual MIDIStatus clientCreate(const std::string& name, NotifyProc notify, MIDIClientRef* outClient) = 0;
    // An input port for the MIDI 1.0 protocol.
    virtual MIDIStatus inputPortCreate(MIDIClientRef client, const std::string& name, ReceiveProc receive,
                                       MIDIPortRef* outPort) = 0;
    virtual size_t numberOfSources() = 0;
    // The source at `index` of the current source list; 0 when out of range.
    virtual MIDIEndpointRef source(size_t index) = 0;
    // The object's unique ID: stable while the object exists (and across its reappearance).
    virtual MIDIStatus uniqueID(MIDIObjectRef object, int32_t* outID) = 0;
    // Succeeds only for a source that belongs to a device entity (hardware or driver-backed).
    virtual MIDIStatus endpointEntity(MIDIEndpointRef source, MIDIEntityRef* outEntity) = 0;
    // Connects a source to an input port. The connection is kept for the source's unique ID: a
    // source that goes away and comes back with the same ID is delivered again.
    virtual MIDIStatus portConnectSource(MIDIPortRef port, MIDIEndpointRef source, uint64_t sourceRefCon) = 0;
    virtual MIDIStatus portDispose(MIDIPortRef port) = 0;
    virtual MIDIStatus clientDispose(MIDIClientRef client) = 0;
};

} // namespace orevant
