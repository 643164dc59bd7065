#pragma once
// The audio server on PipeWire (with a session manager that honours "target.object", such as
// WirePlumber): devices are the sink and source nodes, process objects the client processes,
// process taps private tap sinks, aggregates in-graph filters, IO procedures the filters'
// real-time process callbacks (PipeWireTapGraph). Reads answer from a mirror of the graph kept
// on PipeWire's own thread; writes go to the daemon and are seen at once; listeners run on the
// main queue. A daemon that goes away is reconnected to: its devices and processes come back
// with new IDs and the aggregates of the old connection read "livn" 0.
//
// Threads: every method from any thread except an IO thread (each takes the PipeWire loop's
// lock for its duration); listener blocks on the main queue; IO procedures on PipeWire's data
// thread.
#include "platform/audio_server.h"
#include "platform/main_queue.h"

#include <memory>
#include <string>

namespace orevant {

class PipeWireAudioServer final : public AudioServer {
public:
    // Connects to the daemon of the session (PIPEWIRE_REMOTE, XDG_RUNTIME_DIR), waiting at most
    // `timeoutSeconds`; isConnected() then tells whether a server answered.
    explicit PipeWireAudioServer(MainQueue& mainQueue, double timeoutSeconds = 2.0);
    ~PipeWireAudioServer() override;
    PipeWireAudioServer(const PipeWireAudioServer&) = delete;
    PipeWireAudioServer& operator=(const PipeWireAudioServer&) = delete;

    bool isConnected() const;

    OSStatus getPropertyDataSize(AudioObjectID object, const PropertyAddress& address, uint32_t& size) override;
    OSStatus getPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t& size, void* data) override;
    OSStatus setPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t size,
                             const void* data) override;
    OSStatus isPropertySettable(AudioObjectID object, const PropertyAddress& address, bool& settable) override;
    OSStatus getPropertyString(AudioObjectID object, const PropertyAddress& address, std::string& out) override;
    OSStatus getPropertyStringList(AudioObjectID object, const PropertyAddress& address,
                                   std::vector<std::string>& out) override;
    OSStatus addPropertyListener(AudioObjectID object, const PropertyAddress& address, PropertyListenerBlock block,
                                 ListenerID& outID) override;
    OSStatus removePropertyListener(AudioObjectID object, const PropertyAddress& address, ListenerID id) override;
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTap) override;
    OSStatus destroyProcessTap(AudioObjectID tap) override;
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice) override;
    OSStatus destroyAggregateDevice(AudioObjectID device) override;
    OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) override;
    OSStatus destroyIOProc(AudioObjectID device, IOProcID id) override;
    OSStatus startDevice(AudioObjectID device, IOProcID id) override;
    OSStatus stopDevice(AudioObjectID device, IOProcID id) override;

    // Tests and benchmarks: the node name of a tap's private sink, the IO cycles an aggregate
    // ran, and a round trip to the daemon (everything asked before it has been handled).
    std::string tapSinkName(AudioObjectID tap) const;
    uint64_t ioCycles(AudioObjectID device) const;
    bool roundTrip();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orevant
