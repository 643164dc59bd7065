#pragma once
// A simulated MIDI system: virtual and hardware sources that come and go and send any MIDI 1.0
// message (or any universal MIDI packet) to the input ports connected to them.
//
// Threads: the MIDISystem methods are called from the main queue. The scenario methods
// (addSource, removeSource, send...) may be called from any thread that is not inside a notify
// or receive procedure; that calling thread plays the MIDI system's own thread, so notify and
// receive procedures run on it, synchronously, before the call returns.
#include "platform/midi_system.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace orevant {

class SimMIDISystem final : public MIDISystem {
public:
    SimMIDISystem() = default;
    SimMIDISystem(const SimMIDISystem&) = delete;
    SimMIDISystem& operator=(const SimMIDISystem&) = delete;

    // MIDISystem
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

    // Scenario. A hardware source belongs to a device entity (a USB controller); a virtual one
    // is created by software. Without `uniqueID` a fresh one is chosen. Adding or removing a
    // source notifies every client (object added / removed, then setup changed). Throws
    // std::invalid_argument when `uniqueID` is already used by a present source.
    MIDIEndpointRef addSource(const std::string& name, bool isHardware, std::optional<int32_t> uniqueID = {});
    void removeSource(MIDIEndpointRef source);
    // The source's MIDI 1.0 byte stream, delivered to every port connected to it.
    void send(MIDIEndpointRef source, std::span<const uint8_t> bytes);
    void send(MIDIEndpointRef source, std::initializer_list<uint8_t> bytes);
    // `channel` 0...15.
    void sendControlChange(MIDIEndpointRef source, uint8_t channel, uint8_t controller, uint8_t value);
    // Raw universal MIDI packets (for example MIDI 2.0 messages), delivered as they are.
    void sendPackets(MIDIEndpointRef source, std::span<const uint32_t> words);
    // Notifies every client without changing anything.
    void notifySetupChanged();

    // Failure injection: the next calls of that operation return `status` until cleared with 0.
    void failClientCreate(MIDIStatus status);
    void failInputPortCreate(MIDIStatus status);
    void failConnect(int32_t uniqueID, MIDIStatus status);
    void failUniqueIDRead(MIDIEndpointRef source, MIDIStatus status);

    // Observation.
    int32_t uniqueIDOf(MIDIEndpointRef source) const; // 0 when unknown
    size_t clientCount() const;
    size_t portCount() const;
    std::optional<std::string> clientName(MIDIClientRef client) const;
    std::optional<std::string> portName(MIDIPortRef port) const;
    // Successful portConnectSource calls for a unique ID, over all ports.
    size_t connectCount(int32_t uniqueID) const;

private:
    struct Source {
        MIDIEndpointRef ref;
        std::string name;
        int32_t uniqueID;
        bool isHardware;
        MIDIEntityRef entity; // 0 for a virtual source
    };
    struct Client {
        std::string name;
        NotifyProc notify;
    };
    struct Port {
        MIDIClientRef client;
        std::string name;
        ReceiveProc receive;
        std::map<int32_t, uint64_t> connections; // unique ID -> reference value
    };

    const Source* findSource(MIDIEndpointRef ref) const;
    void notifyAll(std::initializer_list<int32_t> messages);
    void deliver(MIDIEndpointRef source, std::span<const uint32_t> words);

    mutable std::mutex mutex_;
    // Held while a notify or receive procedure runs, so that dispose waits for it to finish.
    std::mutex deliveryMutex_;
    MIDIObjectRef nextRef_ = 0x1000;
    int32_t nextUniqueID_ = 0x2A5E0001;
    std::vector<Source> sources_;
    std::map<MIDIClientRef, Client> clients_;
    std::map<MIDIPortRef, Port> ports_;
    std::map<int32_t, size_t> connectCounts_;
    MIDIStatus clientCreateFailure_ = 0;
    MIDIStatus portCreateFailure_ = 0;
    std::map<int32_t, MIDIStatus> connectFailures_;
    std::map<MIDIEndpointRef, MIDIStatus> uniqueIDFailures_;
};

} // namespace orevant
