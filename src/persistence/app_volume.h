#pragma once
// The stored setting of one application. A plain value, compared field by field.
#include "persistence/json_defaults.h"

#include <string>
#include <vector>

namespace orevant {

struct AppVolume {
    float volume = 1.0f; // linear control value; 1.0 is unity
    bool isMuted = false;
    std::vector<std::string> outputDeviceUIDs; // empty: the default route
    bool isCued = false;                       // sent pre-fade to the PHONES bus
    float cueVolume = 1.0f;

    // Differs from the default in anything but cueVolume (volume compared exactly with 1.0).
    bool isCustomized() const;

    bool operator==(const AppVolume&) const = default;
};

// Written with exactly volume, isMuted, outputDeviceUIDs, isCued, cueVolume, in that order.
// Read tolerantly: every key may be missing (or null); a missing outputDeviceUIDs falls back to
// the single legacy outputDeviceUID. A key of the wrong type throws.
void to_json(Json& j, const AppVolume& value);
void from_json(const Json& j, AppVolume& value);

} // namespace orevant
