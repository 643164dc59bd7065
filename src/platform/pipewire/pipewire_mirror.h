#pragma once
// A copy of the PipeWire graph objects the seam is made of (nodes, ports, clients, devices,
// links, the default nodes), as the registry and the bound proxies reported them, and the
// seam's view of it: our own never-reused object IDs and every property the logic reads.
// No PipeWire calls: the session fills the records, tests fill them by hand.
//
// Threads: plain data; the PipeWire server guards it with its thread loop's lock.
#include "platform/pipewire/pipewire_mapping.h"
#include "platform/pipewire/seam_state.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

struct PipeWireNode {
    uint32_t id = 0; // PipeWire global id (reused by the server within milliseconds)
    uint64_t serial = 0;
    PropertyMap props;      // global properties merged with the bound node's info
    std::string state;      // "creating", "suspended", "idle", "running", "error"
    double rate = 0;        // from the Format param; 0 when unknown
    bool hasVolume = false; // the Props param carried channel volumes
    std::vector<float> volumes;
    bool mute = false;
};

struct PipeWirePort {
    uint32_t id = 0;
    uint32_t node = 0;
    uint32_t index = 0; // port.id: channel order within the node and direction
    bool isOutput = false;
    bool isMonitor = false;
    std::string channel; // audio.channel
};

struct PipeWireClient {
    uint32_t id = 0;
    PropertyMap props;
};

// An active route of a card (ALSA): where its volume lives when the node belongs to one.
struct PipeWireRoute {
    int32_t index = 0;
    int32_t device = 0; // card.profile.device of the node that plays through it
    bool isOutput = true;
    bool hasVolume = false;
    std::vector<float> volumes;
    bool mute = false;
};

struct PipeWireDevice {
    uint32_t id = 0;
    PropertyMap props;
    std::vector<PipeWireRoute> routes;
};

struct PipeWireLink {
    uint32_t id = 0;
    uint32_t outputNode = 0, outputPort = 0, inputNode = 0, inputPort = 0;
};

class PipeWireMirror {
public:
    std::map<uint32_t, PipeWireNode> nodes;
    std::map<uint32_t, PipeWirePort> ports;
    std::map<uint32_t, PipeWireClient> clients;
    std::map<uint32_t, PipeWireDevice> devices;
    std::map<uint32_t, PipeWireLink> links;
    std::optional<std::string> defaultSink;   // node.name, from "default.audio.sink"
    std::optional<std::string> defaultSource; // node.name, from "default.audio.source"
    double graphRate = 48000.0;
    int32_t ownPID = 0; // our own connection's process: never an application

    // A new connection: the records go, and objects seen from now on get new IDs.
    void reset();

    // Our object IDs: one per device node (by object.serial) and per application process (by
    // pid), stable while the object lasts, never reused. Taps and aggregates take fresh ones.
    AudioObjectID deviceObjectID(const PipeWireNode& node);
    AudioObjectID processObjectID(int32_t pid);
    AudioObjectID newObjectID() { return nextID_++; }

    // The seam as these records show it: the system object, the device nodes that have ports,
    // and one process object per application process. `extraDevices` (our aggregates) are
    // appended to the device list.
    SeamState seamState(const std::vector<AudioObjectID>& extraDevices = {});

    // ---- Queries ----
    const PipeWireNode* nodeByName(const std::string& name) const;
    // The device node behind a device object ID, or null.
    const PipeWireNode* nodeOfDevice(AudioObjectID device) const;
    // The pid behind a process object ID.
    std::optional<int32_t> pidOfProcess(AudioObjectID process) const;
    // The process a node belongs to: its own application.process.id (PulseAudio streams), else
    // its client's.
    std::optional<int32_t> pidOfNode(const PipeWireNode& node) const;
    // A node's ports of one direction, monitor ports or the others, in port.id order.
    std::vector<const PipeWirePort*> portsOf(uint32_t node, bool output, bool monitor) const;
    // The route that carries a device node's volume (ALSA cards), or null: the node's Props then.
    const PipeWireRoute* routeOf(const PipeWireNode& node, bool output) const;
    bool isApplicationClient(const PipeWireClient& client) const;

private:
    AudioObjectID idFor(const std::string& key);

    uint64_t generation_ = 0;
    AudioObjectID nextID_ = 2; // 1 is the system object
    std::map<std::string, AudioObjectID> ids_;
};

} // namespace orevant
