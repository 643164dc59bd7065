#pragma once
// One scene: the whole volume map and the bus levels at the moment it was saved. A plain value,
// identified by `id`, compared field by field.
#include "persistence/app_volume.h"
#include "persistence/reference_date.h"
#include "persistence/uuid.h"

#include <map>
#include <optional>
#include <string>

namespace orevant {

struct MixSnapshot {
    UUID id;
    std::string name;
    std::map<std::string, AppVolume> volumes; // every entry, default ones included
    std::optional<float> mainLevel;
    std::optional<float> phonesLevel; // absent when no PHONES bus was available
    ReferenceDate savedAt;

    bool operator==(const MixSnapshot&) const = default;
};

// Keys id, name, volumes, mainLevel, phonesLevel, savedAt, in that order; an absent level is left
// out. Reading requires id (a canonical UUID), name, volumes and savedAt, and throws otherwise.
void to_json(Json& j, const MixSnapshot& value);
void from_json(const Json& j, MixSnapshot& value);

} // namespace orevant
