#pragma once
// Pure functions from PipeWire property sets (the keys of PipeWire's keys.h and WirePlumber's
// metadata) to what the audio-server seam shows. No PipeWire calls, so every case, including
// the ones that need hardware (ALSA routes, Bluetooth nodes), is tested over property sets.
// Any thread.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

using PropertyMap = std::map<std::string, std::string>;

class PipeWireMapping {
public:
    enum class NodeKind {
        other,
        sink,         // "Audio/Sink"
        source,       // "Audio/Source"
        duplex,       // "Audio/Duplex"
        streamOutput, // "Stream/Output/Audio": an application playing
        streamInput,  // "Stream/Input/Audio": an application recording
    };

    static std::optional<std::string> get(const PropertyMap& props, const std::string& key);
    static std::optional<int64_t> getInt(const PropertyMap& props, const std::string& key);
    static bool getBool(const PropertyMap& props, const std::string& key);

    // By exact media.class: private sinks ("Audio/Sink/Internal", ours among them) are never devices.
    static NodeKind nodeKind(const PropertyMap& node);
    static bool isDevice(NodeKind kind) {
        return kind == NodeKind::sink || kind == NodeKind::source || kind == NodeKind::duplex;
    }

    // Transport type of a device node, from its own properties and those of its Device object
    // (null when the node has none): Bluetooth ("blue", LE audio "blea"), USB, built in (PCI,
    // ISA, platform), or virtual for nodes without a device (null sinks, network sinks).
    static uint32_t transport(const PropertyMap& node, const PropertyMap* device);
    // The device UID: the node name, except for Bluetooth nodes, which are named by their
    // address in BlueZ's form followed by ":output" or ":input", so that a paired device matches
    // its audio device by address.
    static std::string deviceUID(const PropertyMap& node, const PropertyMap* device, bool isOutput);
    // The name users see: node.description, else node.nick, else node.name.
    static std::string deviceName(const PropertyMap& node);

    // The seam's volume control v is the cube root of PipeWire's linear channel volume (the
    // scale wpctl and desktop mixers show); writes set every channel to v³.
    static float controlFromChannelVolumes(const std::vector<float>& volumes);
    static float channelVolumeFromControl(float control);

    // The process a client belongs to: application.process.id (set by the client library, and
    // by pipewire-pulse for PulseAudio clients), else pipewire.sec.pid; for a Flatpak-sandboxed
    // client only pipewire.sec.pid. None when no such key is a positive number.
    static std::optional<int32_t> processID(const PropertyMap& props);
    // Clients that are part of the audio system itself, never applications: the session
    // manager and pipewire-pulse's own connection.
    static bool isServiceClient(const PropertyMap& client);

    // WirePlumber's default-node metadata values: {"name": "<node.name>"}.
    static std::optional<std::string> defaultNodeName(const std::string& json);
    static std::string defaultNodeJSON(const std::string& nodeName);

    // Our private tap sinks are named "orevant.tap.<key>.in"; <key> keeps letters, digits, '.',
    // '-' and '_' of the application's key (others become '_'), at most 64 characters.
    static std::string tapSinkName(const std::string& key);
    static bool isTapSinkName(const std::string& name);
    static constexpr const char* kTapPrefix = "orevant.tap.";
};

} // namespace orevant
