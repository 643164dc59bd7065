#include "platform/sim/sim_midi_system.h"

#include <algorithm>
#include <stdexcept>

namespace orevant {

MIDIStatus SimMIDISystem::clientCreate(const std::string& name, NotifyProc notify, MIDIClientRef* outClient) {
    std::lock_guard lock(mutex_);
    if (clientCreateFailure_ != 0) {
        *outClient = 0;
        return clientCreateFailure_;
    }
    MIDIClientRef ref = nextRef_++;
    clients_[ref] = Client{name, std::move(notify)};
    *outClient = ref;
    return midi_status::noError;
}

MIDIStatus SimMIDISystem::inputPortCreate(MIDIClientRef client, const std::string& name, ReceiveProc receive,
                                          MIDIPortRef* outPort) {
    std::lock_guard lock(mutex_);
    *outPort = 0;
    if (portCreateFailure_ != 0) return portCreateFailure_;
    if (!clients_.contains(client)) return midi_status::invalidClient;
    MIDIPortRef ref = nextRef_++;
    ports_[ref] = Port{client, name, std::move(receive), {}};
    *outPort = ref;
    return midi_status::noError;
}

size_t SimMIDISystem::numberOfSources() {
    std::lock_guard lock(mutex_);
    return sources_.size();
}

MIDIEndpointRef SimMIDISystem::source(size_t index) {
    std::lock_guard lock(mutex_);
    return index < sources_.size() ? sources_[index].ref : 0;
}

MIDIStatus SimMIDISystem::uniqueID(MIDIObjectRef object, int32_t* outID) {
    std::lock_guard lock(mutex_);
    *outID = 0;
    if (auto failure = uniqueIDFailures_.find(object); failure != uniqueIDFailures_.end()) return failure->second;
    const Source* source = findSource(object);
    if (!source) return midi_status::objectNotFound;
    *outID = source->uniqueID;
    return midi_status::noError;
}

MIDIStatus SimMIDISystem::endpointEntity(MIDIEndpointRef sourceRef, MIDIEntityRef* outEntity) {
    std::lock_guard lock(mutex_);
    *outEntity = 0;
    const Source* source = findSource(sourceRef);
    if (!source) return midi_status::unknownEndpoint;
    if (source->entity == 0) return midi_status::objectNotFound;
    *outEntity = source->entity;
    return midi_status::noError;
}

MIDIStatus SimMIDISystem::portConnectSource(MIDIPortRef portRef, MIDIEndpointRef sourceRef, uint64_t sourceRefCon) {
    std::lock_guard lock(mutex_);
    auto port = ports_.find(portRef);
    if (port == ports_.end()) return midi_status::invalidPort;
    const Source* source = findSource(sourceRef);
    if (!source) return midi_status::unknownEndpoint;
    if (auto failure = connectFailures_.find(source->uniqueID); failure != connectFailures_.end())
        return failure->second;
    port->second.connections[source->uniqueID] = sourceRefCon;
    ++connectCounts_[source->uniqueID];
    return midi_status::noError;
}

MIDIStatus SimMIDISystem::portDispose(MIDIPortRef port) {
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    return ports_.erase(port) ? midi_status::noError : midi_status::invalidPort;
}

MIDIStatus SimMIDISystem::clientDispose(MIDIClientRef client) {
    std::lock_guard delivery(deliveryMutex_);
    std::lock_guard lock(mutex_);
    if (!clients_.erase(client)) return midi_status::invalidClient;
    std::erase_if(ports_, [client](const auto& entry) { return entry.second.client == client; });
    return midi_status::noError;
}

MIDIEndpointRef SimMIDISystem::addSource(const std::string& name, bool isHardware, std::optional<int32_t> uniqueID) {
    MIDIEndpointRef ref;
    {
        std::lock_guard lock(mutex_);
        int32_t id = uniqueID.value_or(0);
        if (!uniqueID) {
            do {
                id = nextUniqueID_++;
            } while (std::any_of(sources_.begin(), sources_.end(), [id](const Source& s) { return s.uniqueID == id; }));
        } else if (std::any_of(sources_.begin(), sources_.end(), [id](const Source& s) { return s.uniqueID == id; })) {
            throw std::invalid_argument("a present MIDI source already has this unique ID");
        }
        ref = nextRef_++;
        MIDIEntityRef entity = isHardware ? nextRef_++ : 0;
        sources_.push_back(Source{ref, name, id, isHardware, entity});
    }
    notifyAll({kMIDIMsgObjectAdded, kMIDIMsgSetupChanged});
    return ref;
}

void SimMIDISystem::removeSource(MIDIEndpointRef ref) {
    {
        std::lock_guard lock(mutex_);
        auto removed = std::erase_if(sources_, [ref](const Source& s) { return s.ref == ref; });
        if (removed == 0) return;
    }
    notifyAll({kMIDIMsgObjectRemoved, kMIDIMsgSetupChanged});
}

void SimMIDISystem::send(MIDIEndpointRef source, std::span<const uint8_t> bytes) {
    std::vector<uint32_t> words = midi1BytesToUniversalPackets(bytes);
    deliver(source, words);
}

void SimMIDISystem::send(MIDIEndpointRef source, std::initializer_list<uint8_t> bytes) {
    send(source, std::span<const uint8_t>(bytes.begin(), bytes.size()));
}

void SimMIDISystem::sendControlChange(MIDIEndpointRef source, uint8_t channel, uint8_t controller, uint8_t value) {
    send(source, {uint8_t(0xB0 | (channel & 0x0F)), uint8_t(controller & 0x7F), uint8_t(value & 0x7F)});
}

void SimMIDISystem::sendPackets(MIDIEndpointRef source, std::span<const uint32_t> words) { deliver(source, words); }

void SimMIDISystem::notifySetupChanged() { notifyAll({kMIDIMsgSetupChanged}); }

void SimMIDISystem::deliver(MIDIEndpointRef sourceRef, std::span<const uint32_t> words) {
    if (words.empty()) return;
    std::lock_guard delivery(deliveryMutex_);
    std::vector<std::pair<ReceiveProc, uint64_t>> targets;
    {
        std::lock_guard lock(mutex_);
        const Source* source = findSource(sourceRef);
        if (!source) return; // a source that is gone sends nothing
        for (auto& [ref, port] : ports_) {
            auto connection = port.connections.find(source->uniqueID);
            if (connection != port.connections.end() && port.receive)
                targets.emplace_back(port.receive, connection->second);
        }
    }
    for (auto& [receive, refCon] : targets) receive(MIDIEventList(words.data(), words.size()), refCon);
}

void SimMIDISystem::notifyAll(std::initializer_list<int32_t> messages) {
    std::lock_guard delivery(deliveryMutex_);
    std::vector<NotifyProc> targets;
    {
        std::lock_guard lock(mutex_);
        for (auto& [ref, client] : clients_)
            if (client.notify) targets.push_back(client.notify);
    }
    for (int32_t message : messages)
        for (auto& notify : targets) notify(message);
}

void SimMIDISystem::failClientCreate(MIDIStatus status) {
    std::lock_guard lock(mutex_);
    clientCreateFailure_ = status;
}

void SimMIDISystem::failInputPortCreate(MIDIStatus status) {
    std::lock_guard lock(mutex_);
    portCreateFailure_ = status;
}

void SimMIDISystem::failConnect(int32_t uniqueID, MIDIStatus status) {
    std::lock_guard lock(mutex_);
    if (status == 0)
        connectFailures_.erase(uniqueID);
    else
        connectFailures_[uniqueID] = status;
}

void SimMIDISystem::failUniqueIDRead(MIDIEndpointRef source, MIDIStatus status) {
    std::lock_guard lock(mutex_);
    if (status == 0)
        uniqueIDFailures_.erase(source);
    else
        uniqueIDFailures_[source] = status;
}

int32_t SimMIDISystem::uniqueIDOf(MIDIEndpointRef ref) const {
    std::lock_guard lock(mutex_);
    const Source* source = findSource(ref);
    return source ? source->uniqueID : 0;
}

size_t SimMIDISystem::clientCount() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

size_t SimMIDISystem::portCount() const {
    std::lock_guard lock(mutex_);
    return ports_.size();
}

std::optional<std::string> SimMIDISystem::clientName(MIDIClientRef client) const {
    std::lock_guard lock(mutex_);
    auto it = clients_.find(client);
    return it == clients_.end() ? std::nullopt : std::optional(it->second.name);
}

std::optional<std::string> SimMIDISystem::portName(MIDIPortRef port) const {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(port);
    return it == ports_.end() ? std::nullopt : std::optional(it->second.name);
}

size_t SimMIDISystem::connectCount(int32_t uniqueID) const {
    std::lock_guard lock(mutex_);
    auto it = connectCounts_.find(uniqueID);
    return it == connectCounts_.end() ? 0 : it->second;
}

const SimMIDISystem::Source* SimMIDISystem::findSource(MIDIEndpointRef ref) const {
    for (const Source& source : sources_)
        if (source.ref == ref) return &source;
    return nullptr;
}

} // namespace orevant
