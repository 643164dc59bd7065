#include "platform/pipewire/pipewire_mirror.h"

#include <algorithm>
#include <set>

namespace orevant {

namespace {
using Kind = PipeWireMapping::NodeKind;

} // namespace

void PipeWireMirror::reset() {
    nodes.clear();
    ports.clear();
    clients.clear();
    devices.clear();
    links.clear();
    defaultSink.reset();
    defaultSource.reset();
    ids_.clear();
    ++generation_;
}

AudioObjectID PipeWireMirror::idFor(const std::string& key) {
    auto [it, inserted] = ids_.try_emplace(std::to_string(generation_) + key, 0);
    if (inserted) it->second = nextID_++;
    return it->second;
}

AudioObjectID PipeWireMirror::deviceObjectID(const PipeWireNode& node) {
    return idFor(":node:" + std::to_string(node.serial));
}

AudioObjectID PipeWireMirror::processObjectID(int32_t pid) { return idFor(":pid:" + std::to_string(pid)); }

const PipeWireNode* PipeWireMirror::nodeByName(const std::string& name) const {
    for (const auto& [id, node] : nodes)
        if (PipeWireMapping::get(node.props, "node.name") == name) return &node;
    return nullptr;
}

const PipeWireNode* PipeWireMirror::nodeOfDevice(AudioObjectID device) const {
    const std::string prefix = std::to_string(generation_) + ":node:";
    for (const auto& [id, node] : nodes) {
        auto it = ids_.find(prefix + std::to_string(node.serial));
        if (it != ids_.end() && it->second == device) return &node;
    }
    return nullptr;
}

std::optional<int32_t> PipeWireMirror::pidOfProcess(AudioObjectID process) const {
    const std::string prefix = std::to_string(generation_) + ":pid:";
    for (const auto& [key, id] : ids_) {
        if (id != process || key.rfind(prefix, 0) != 0) continue;
        return static_cast<int32_t>(std::stol(key.substr(prefix.size())));
    }
    return std::nullopt;
}

std::optional<int32_t> PipeWireMirror::pidOfNode(const PipeWireNode& node) const {
    if (auto pid = PipeWireMapping::getInt(node.props, "application.process.id"); pid && *pid > 0 && *pid <= INT32_MAX)
        return static_cast<int32_t>(*pid);
    auto clientID = PipeWireMapping::getInt(node.props, "client.id");
    if (!clientID) return std::nullopt;
    auto it = clients.find(static_cast<uint32_t>(*clientID));
    if (it == clients.end()) return std::nullopt;
    return PipeWireMapping::processID(it->second.props);
}

std::vector<const PipeWirePort*> PipeWireMirror::portsOf(uint32_t node, bool output, bool monitor) const {
    std::vector<const PipeWirePort*> out;
    for (const auto& [id, port] : ports)
        if (port.node == node && port.isOutput == output && port.isMonitor == monitor) out.push_back(&port);
    // Global ids are not in channel order; port.id is.
    std::sort(out.begin(), out.end(), [](const PipeWirePort* a, const PipeWirePort* b) { return a->index < b->index; });
    return out;
}

const PipeWireRoute* PipeWireMirror::routeOf(const PipeWireNode& node, bool output) const {
    auto deviceID = PipeWireMapping::getInt(node.props, "device.id");
    auto profileDevice = PipeWireMapping::getInt(node.props, "card.profile.device");
    if (!deviceID || !profileDevice) return nullptr;
    auto it = devices.find(static_cast<uint32_t>(*deviceID));
    if (it == devices.end()) return nullptr;
    for (const PipeWireRoute& route : it->second.routes)
        if (route.device == *profileDevice && route.isOutput == output) return &route;
    return nullptr;
}

bool PipeWireMirror::isApplicationClient(const PipeWireClient& client) const {
    if (PipeWireMapping::isServiceClient(client.props)) return false;
    auto pid = PipeWireMapping::processID(client.props);
    return pid && *pid != ownPID;
}

SeamState PipeWireMirror::seamState(const std::vector<AudioObjectID>& extraDevices) {
    SeamState s;
    const AudioObjectID system = kAudioObjectSystemObject;
    s.addObject(system);

    // Devices, in the order they were first seen.
    std::map<AudioObjectID, const PipeWireNode*> listed;
    for (const auto& [gid, node] : nodes) {
        const Kind kind = PipeWireMapping::nodeKind(node.props);
        if (!PipeWireMapping::isDevice(kind)) continue;
        const std::string name = PipeWireMapping::get(node.props, "node.name").value_or("");
        if (PipeWireMapping::isTapSinkName(name)) continue;
        const auto outChannels =
            kind == Kind::source ? 0u : static_cast<uint32_t>(portsOf(gid, /*output=*/false, false).size());
        const auto inChannels =
            kind == Kind::sink ? 0u : static_cast<uint32_t>(portsOf(gid, /*output=*/true, false).size());
        // Listed only once its ports exist, so that a listed device always has its channels.
        if (outChannels + inChannels == 0) continue;
        const AudioObjectID id = deviceObjectID(node);
        listed[id] = &node;
        const PropertyMap* deviceProps = nullptr;
        if (auto d = PipeWireMapping::getInt(node.props, "device.id")) {
            auto it = devices.find(static_cast<uint32_t>(*d));
            if (it != devices.end()) deviceProps = &it->second.props;
        }
        s.setString(id, sel::deviceUID, scope::global,
                    PipeWireMapping::deviceUID(node.props, deviceProps, outChannels > 0));
        s.setString(id, sel::name, scope::global, PipeWireMapping::deviceName(node.props));
        s.set<uint32_t>(id, sel::transportType, scope::global, PipeWireMapping::transport(node.props, deviceProps));
        s.set<uint32_t>(id, sel::deviceIsAlive, scope::global, 1);
        s.set<uint32_t>(id, sel::deviceIsRunningSomewhere, scope::global, node.state == "running" ? 1 : 0);
        const double rate = node.rate > 0 ? node.rate : graphRate;
        s.set<double>(id, sel::nominalSampleRate, scope::global, rate);
        s.setBytes(id, sel::streamConfiguration, scope::output, singleStreamConfigurationBytes(outChannels));
        s.setBytes(id, sel::streamConfiguration, scope::input, singleStreamConfigurationBytes(inChannels));
        for (const bool output : {true, false}) {
            const uint32_t channels = output ? outChannels : inChannels;
            if (channels == 0) continue;
            const uint32_t sc = output ? scope::output : scope::input;
            s.set(id, sel::streamFormat, sc, floatStreamFormat(rate, channels));
            const std::vector<float>* volumes = nullptr;
            bool mute = false;
            if (const PipeWireRoute* route = routeOf(node, output); route && route->hasVolume) {
                volumes = &route->volumes;
                mute = route->mute;
            } else if (node.hasVolume) {
                volumes = &node.volumes;
                mute = node.mute;
            }
            if (!volumes) continue;
            s.set<float>(id, sel::virtualMainVolume, sc, PipeWireMapping::controlFromChannelVolumes(*volumes), true);
            s.set<uint32_t>(id, sel::mute, sc, mute ? 1u : 0u, true);
        }
    }
    std::vector<AudioObjectID> deviceList;
    for (const auto& [id, node] : listed) deviceList.push_back(id);
    deviceList.insert(deviceList.end(), extraDevices.begin(), extraDevices.end());
    s.setIDs(system, sel::deviceList, scope::global, deviceList);

    auto defaultID = [&](const std::optional<std::string>& name) -> AudioObjectID {
        if (!name) return 0;
        for (const auto& [id, node] : listed)
            if (PipeWireMapping::get(node->props, "node.name") == *name) return id;
        return 0;
    };
    s.set<uint32_t>(system, sel::defaultOutputDevice, scope::global, defaultID(defaultSink), true);
    s.set<uint32_t>(system, sel::defaultInputDevice, scope::global, defaultID(defaultSource), true);

    // Processes: one per application pid with a connection, playing while any output stream
    // of it runs.
    struct Process {
        bool playing = false, recording = false;
        std::string bundleID;
    };
    std::map<int32_t, Process> processes;
    for (const auto& [cid, client] : clients) {
        if (!isApplicationClient(client)) continue;
        Process& p = processes[*PipeWireMapping::processID(client.props)];
        if (p.bundleID.empty()) p.bundleID = PipeWireMapping::get(client.props, "application.id").value_or("");
    }
    for (const auto& [gid, node] : nodes) {
        const Kind kind = PipeWireMapping::nodeKind(node.props);
        if (kind != Kind::streamOutput && kind != Kind::streamInput) continue;
        auto pid = pidOfNode(node);
        if (!pid || *pid == ownPID) continue;
        auto clientID = PipeWireMapping::getInt(node.props, "client.id");
        auto client = clientID ? clients.find(static_cast<uint32_t>(*clientID)) : clients.end();
        if (client == clients.end() || !isApplicationClient(client->second)) {
            // A stream of a service client (pipewire-pulse) with an application pid of its own.
            if (!PipeWireMapping::getInt(node.props, "application.process.id")) continue;
        }
        Process& p = processes[*pid];
        const bool running = node.state == "running";
        (kind == Kind::streamOutput ? p.playing : p.recording) |= running;
        if (p.bundleID.empty()) p.bundleID = PipeWireMapping::get(node.props, "application.id").value_or("");
    }
    std::vector<AudioObjectID> processList;
    for (const auto& [pid, p] : processes) {
        const AudioObjectID id = processObjectID(pid);
        processList.push_back(id);
        s.set<int32_t>(id, sel::processPID, scope::global, pid);
        s.set<uint32_t>(id, sel::processIsRunningOutput, scope::global, p.playing ? 1 : 0);
        s.set<uint32_t>(id, sel::processIsRunningInput, scope::global, p.recording ? 1 : 0);
        if (!p.bundleID.empty()) s.setString(id, sel::processBundleID, scope::global, p.bundleID);
    }
    std::sort(processList.begin(), processList.end());
    s.setIDs(system, sel::processObjectList, scope::global, processList);
    return s;
}

} // namespace orevant
