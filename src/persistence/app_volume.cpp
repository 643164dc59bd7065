#include "persistence/app_volume.h"

#include <stdexcept>

namespace orevant {

bool AppVolume::isCustomized() const { return volume != 1.0f || isMuted || !outputDeviceUIDs.empty() || isCued; }

void to_json(Json& j, const AppVolume& value) {
    // Encode the floats first: they throw on NaN, and a throw after the object was allocated
    // inside a converting constructor would leak it.
    const auto volume = encodeFloat(value.volume);
    const auto cueVolume = encodeFloat(value.cueVolume);
    j = Json::object();
    j["volume"] = volume;
    j["isMuted"] = value.isMuted;
    j["outputDeviceUIDs"] = value.outputDeviceUIDs;
    j["isCued"] = value.isCued;
    j["cueVolume"] = cueVolume;
}

namespace {
const Json* member(const Json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return nullptr;
    return &*it;
}

bool decodeBool(const Json& j) {
    if (!j.is_boolean()) throw std::invalid_argument("expected a bool");
    return j.get<bool>();
}

std::string decodeString(const Json& j) {
    if (!j.is_string()) throw std::invalid_argument("expected a string");
    return j.get<std::string>();
}
} // namespace

void from_json(const Json& j, AppVolume& value) {
    if (!j.is_object()) throw std::invalid_argument("expected an object");
    AppVolume out;
    if (const Json* v = member(j, "volume")) out.volume = decodeFloat(*v);
    if (const Json* v = member(j, "isMuted")) out.isMuted = decodeBool(*v);
    if (const Json* v = member(j, "outputDeviceUIDs")) {
        if (!v->is_array()) throw std::invalid_argument("expected an array");
        for (const Json& uid : *v) out.outputDeviceUIDs.push_back(decodeString(uid));
    } else if (const Json* legacy = member(j, "outputDeviceUID")) {
        out.outputDeviceUIDs.push_back(decodeString(*legacy));
    }
    if (const Json* v = member(j, "isCued")) out.isCued = decodeBool(*v);
    if (const Json* v = member(j, "cueVolume")) out.cueVolume = decodeFloat(*v);
    value = std::move(out);
}

} // namespace orevant
