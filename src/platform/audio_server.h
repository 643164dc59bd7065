#pragma once
// The audio server: objects with typed properties, property listeners, process taps,
// aggregate devices and IO procedures. Implemented by the simulated server (platform/sim) and by
// PipeWire (platform/pipewire). Every call returns a status; 0 is success.
//
// Threads: property calls and creation calls from any thread except an IO thread; listener
// blocks run on the main queue after the property changed; IO procedures run on a thread the
// implementation owns, once per cycle.
//
// The contract both servers keep (tests/platform/audio_server_contract.h checks it):
// - Reads may answer from the server's own copy of its state. After setPropertyData returns
//   noErr, reads return the written value at once, even where the server applies it later; if
//   the server then settles on another value, the property's listeners run again.
// - Creation calls may wait briefly for the server, never without a bound; they fail with a
//   status rather than hang.
// - Process objects stand for client processes and stay the same objects (same IDs) for as long
//   as the process is connected to the server, whether or not it has a stream open. Their
//   "pbid" (a string) is the bundle ID the server knows for the process, where it knows one.
// - Object IDs are never reused for another object.
// - A process tap covers the present and future streams of its processes. Muting by a tap starts
//   when an aggregate that lists the tap starts (startDevice) and ends when it stops; a server may
//   refuse mute behaviours other than 2 ("muted while tapped") with illegalOperation. Streams that
//   refuse to be moved cannot be tapped; the server logs them and they play on.
// - An aggregate's "master", "clock", sub-device "drift", "stacked" and "tapAutoStart" are
//   advice: the server may choose its own clock and resample the other devices itself.
// - An aggregate whose sub-device goes away, or that the server can no longer run, reads "livn"
//   0 and its listeners run.
// - destroyIOProc of a running procedure and destroyAggregateDevice of an aggregate with a
//   running procedure are refused with illegalOperation: stop the device first.
#include "platform/audio_types.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

using ListenerID = uint64_t;
using PropertyListenerBlock = std::function<void(uint32_t count, const PropertyAddress* addresses)>;

using IOProcID = uint64_t;
inline constexpr uint32_t kMaxIOFrames = 8192;
// Called once per IO cycle with the aggregate's input buffers (the tap's stereo stream last; the
// list may hold only that buffer) and output buffers (one interleaved buffer per sub-device
// output stream). The number of frames per cycle is the same for every buffer of one call but
// may change from one cycle to the next, up to kMaxIOFrames. Must not allocate, lock or block.
using IOProcBlock = std::function<void(const AudioBufferList& input, AudioBufferList& output)>;

struct TapDescription {
    std::vector<AudioObjectID> processes; // stereo mixdown of exactly these processes
    std::string uuid;                     // upper-case canonical UUID
    int muteBehavior = 0;                 // 0 unmuted, 1 muted, 2 muted when tapped
    bool isPrivate = false;
    std::string name;
};

struct AggregateSubDevice {
    std::string uid;
    bool drift = false;
};

struct AggregateTap {
    std::string uid;
    bool drift = true;
};

struct AggregateDescription {
    std::string name;
    std::string uid;
    std::string master;
    std::string clock;
    bool isPrivate = true;
    bool tapAutoStart = true;
    std::vector<AggregateSubDevice> subdevices;
    std::vector<AggregateTap> taps;
    std::optional<bool> stacked; // key present only when set
};

class AudioServer {
public:
    virtual ~AudioServer() = default;

    // Properties.
    virtual OSStatus getPropertyDataSize(AudioObjectID object, const PropertyAddress& address, uint32_t& size) = 0;
    // `size` is the capacity of `data` on entry and the bytes written on return.
    virtual OSStatus getPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t& size,
                                     void* data) = 0;
    virtual OSStatus setPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t size,
                                     const void* data) = 0;
    virtual OSStatus isPropertySettable(AudioObjectID object, const PropertyAddress& address, bool& settable) = 0;
    // String-valued properties ("uid ", "lnam"): the text of the string reference.
    virtual OSStatus getPropertyString(AudioObjectID object, const PropertyAddress& address, std::string& out) = 0;
    // List-of-strings properties ("grup").
    virtual OSStatus getPropertyStringList(AudioObjectID object, const PropertyAddress& address,
                                           std::vector<std::string>& out) = 0;

    // Listeners. The block runs on the main queue after the property changed, until removed.
    virtual OSStatus addPropertyListener(AudioObjectID object, const PropertyAddress& address,
                                         PropertyListenerBlock block, ListenerID& outID) = 0;
    virtual OSStatus removePropertyListener(AudioObjectID object, const PropertyAddress& address, ListenerID id) = 0;

    // Process taps and aggregate devices.
    virtual OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTap) = 0;
    virtual OSStatus destroyProcessTap(AudioObjectID tap) = 0;
    virtual OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice) = 0;
    virtual OSStatus destroyAggregateDevice(AudioObjectID device) = 0;

    // IO procedures. stopDevice returns only after the procedure finished its current cycle.
    // Destroying a running procedure, or an aggregate with one, is refused (illegalOperation).
    virtual OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) = 0;
    virtual OSStatus destroyIOProc(AudioObjectID device, IOProcID id) = 0;
    virtual OSStatus startDevice(AudioObjectID device, IOProcID id) = 0;
    virtual OSStatus stopDevice(AudioObjectID device, IOProcID id) = 0;
};

} // namespace orevant
