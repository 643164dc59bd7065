#include "platform/pipewire/pipewire_mapping.h"

#include "platform/audio_types.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace orevant {

std::optional<std::string> PipeWireMapping::get(const PropertyMap& props, const std::string& key) {
    auto it = props.find(key);
    if (it == props.end()) return std::nullopt;
    return it->second;
}

std::optional<int64_t> PipeWireMapping::getInt(const PropertyMap& props, const std::string& key) {
    auto it = props.find(key);
    if (it == props.end()) return std::nullopt;
    int64_t value = 0;
    const std::string& text = it->second;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool PipeWireMapping::getBool(const PropertyMap& props, const std::string& key) {
    auto value = get(props, key);
    return value && (*value == "true" || *value == "1");
}

PipeWireMapping::NodeKind PipeWireMapping::nodeKind(const PropertyMap& node) {
    const std::string mediaClass = get(node, "media.class").value_or("");
    if (mediaClass == "Audio/Sink") return NodeKind::sink;
    if (mediaClass == "Audio/Source") return NodeKind::source;
    if (mediaClass == "Audio/Duplex") return NodeKind::duplex;
    if (mediaClass == "Stream/Output/Audio") return NodeKind::streamOutput;
    if (mediaClass == "Stream/Input/Audio") return NodeKind::streamInput;
    return NodeKind::other;
}

namespace {
std::optional<std::string> fromEither(const PropertyMap& node, const PropertyMap* device, const std::string& key) {
    if (auto v = PipeWireMapping::get(node, key)) return v;
    if (device) return PipeWireMapping::get(*device, key);
    return std::nullopt;
}

bool isBluetooth(const PropertyMap& node, const PropertyMap* device) {
    return fromEither(node, device, "device.api") == "bluez5";
}
} // namespace

uint32_t PipeWireMapping::transport(const PropertyMap& node, const PropertyMap* device) {
    if (isBluetooth(node, device)) {
        const std::string profile = fromEither(node, device, "api.bluez5.profile").value_or("");
        return profile.rfind("bap-", 0) == 0 ? transport::bluetoothLE : transport::bluetooth;
    }
    if (!device && !get(node, "device.id")) return transport::virtualDevice;
    const std::string bus = fromEither(node, device, "device.bus").value_or("");
    if (bus == "usb") return transport::usb;
    if (bus == "pci" || bus == "isa" || bus == "platform") return transport::builtIn;
    if (!device) return transport::virtualDevice;
    // A device the kernel shows without a bus (an on-board codec seen through ALSA) is built in.
    return fromEither(node, device, "device.api") == "alsa" ? transport::builtIn : 0;
}

std::string PipeWireMapping::deviceUID(const PropertyMap& node, const PropertyMap* device, bool isOutput) {
    if (isBluetooth(node, device)) {
        if (auto address = fromEither(node, device, "api.bluez5.address"); address && !address->empty())
            return *address + (isOutput ? ":output" : ":input");
    }
    return get(node, "node.name").value_or("");
}

std::string PipeWireMapping::deviceName(const PropertyMap& node) {
    for (const char* key : {"node.description", "node.nick", "node.name"})
        if (auto v = get(node, key); v && !v->empty()) return *v;
    return {};
}

float PipeWireMapping::controlFromChannelVolumes(const std::vector<float>& volumes) {
    if (volumes.empty()) return 1.0f;
    double sum = 0;
    for (float v : volumes) sum += std::isfinite(v) ? std::max(v, 0.0f) : 0.0f;
    return static_cast<float>(std::cbrt(sum / static_cast<double>(volumes.size())));
}

float PipeWireMapping::channelVolumeFromControl(float control) {
    const float v = std::isfinite(control) ? std::clamp(control, 0.0f, 1.0f) : 0.0f;
    return v * v * v;
}

std::optional<int32_t> PipeWireMapping::processID(const PropertyMap& props) {
    // A sandboxed client's own idea of its pid is the sandbox's numbering; the socket's peer
    // pid is the one /proc knows.
    const bool sandboxed = get(props, "pipewire.access") == "flatpak";
    for (const char* key : {"application.process.id", "pipewire.sec.pid"}) {
        if (sandboxed && std::string_view(key) == "application.process.id") continue;
        if (auto pid = getInt(props, key); pid && *pid > 0 && *pid <= INT32_MAX) return static_cast<int32_t>(*pid);
    }
    return std::nullopt;
}

bool PipeWireMapping::isServiceClient(const PropertyMap& client) {
    const std::string binary = get(client, "application.process.binary").value_or("");
    if (binary == "wireplumber" || binary == "pipewire-media-session") return true;
    // pipewire-pulse's own connection; the connections it makes for PulseAudio clients carry
    // client.api.
    return (binary == "pipewire" || binary == "pipewire-pulse") && !get(client, "client.api");
}

std::optional<std::string> PipeWireMapping::defaultNodeName(const std::string& json) {
    if (json.size() > 4096) return std::nullopt;
    const auto doc = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
    if (!doc.is_object()) return std::nullopt;
    auto it = doc.find("name");
    if (it == doc.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string PipeWireMapping::defaultNodeJSON(const std::string& nodeName) {
    return nlohmann::json{{"name", nodeName}}.dump();
}

std::string PipeWireMapping::tapSinkName(const std::string& key) {
    std::string safe;
    for (char c : key) {
        if (safe.size() == 64) break;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        safe += ok ? c : '_';
    }
    if (safe.empty()) safe = "app";
    return kTapPrefix + safe + ".in";
}

bool PipeWireMapping::isTapSinkName(const std::string& name) { return name.rfind(kTapPrefix, 0) == 0; }

} // namespace orevant
