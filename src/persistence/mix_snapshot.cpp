#include "persistence/mix_snapshot.h"

#include <cmath>
#include <stdexcept>

namespace orevant {

void to_json(Json& j, const MixSnapshot& value) {
    if (!std::isfinite(value.savedAt.secondsSinceReference))
        throw std::domain_error("a non-finite date cannot be encoded");
    j = Json::object();
    j["id"] = value.id.uuidString();
    j["name"] = value.name;
    Json volumes = Json::object();
    for (const auto& [key, volume] : value.volumes) volumes[key] = volume;
    j["volumes"] = std::move(volumes);
    if (value.mainLevel) j["mainLevel"] = encodeFloat(*value.mainLevel);
    if (value.phonesLevel) j["phonesLevel"] = encodeFloat(*value.phonesLevel);
    j["savedAt"] = value.savedAt.secondsSinceReference;
}

namespace {
const Json& required(const Json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) throw std::invalid_argument(std::string("missing ") + key);
    return *it;
}

std::optional<float> optionalLevel(const Json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return std::nullopt;
    return decodeFloat(*it);
}
} // namespace

void from_json(const Json& j, MixSnapshot& value) {
    if (!j.is_object()) throw std::invalid_argument("expected an object");
    MixSnapshot out;
    const Json& id = required(j, "id");
    if (!id.is_string()) throw std::invalid_argument("id must be a string");
    auto uuid = UUID::parse(id.get_ref<const std::string&>());
    if (!uuid) throw std::invalid_argument("id is not a UUID");
    out.id = *uuid;
    const Json& name = required(j, "name");
    if (!name.is_string()) throw std::invalid_argument("name must be a string");
    out.name = name.get<std::string>();
    const Json& volumes = required(j, "volumes");
    if (!volumes.is_object()) throw std::invalid_argument("volumes must be an object");
    for (const auto& [key, volume] : volumes.items()) out.volumes[key] = volume.get<AppVolume>();
    out.mainLevel = optionalLevel(j, "mainLevel");
    out.phonesLevel = optionalLevel(j, "phonesLevel");
    const Json& savedAt = required(j, "savedAt");
    if (!savedAt.is_number()) throw std::invalid_argument("savedAt must be a number");
    out.savedAt.secondsSinceReference = savedAt.get<double>();
    value = std::move(out);
}

} // namespace orevant
