#pragma once
// Helpers of the persistence tests: an AppVolume with defaults for the fields not given, and a
// defaults entry read or written as raw document text.
#include "persistence/app_volume.h"
#include "platform/defaults_store.h"

#include <string>
#include <vector>

namespace orevant::test {

inline AppVolume av(float volume, bool isMuted = false, std::vector<std::string> uids = {}, bool isCued = false,
                    float cueVolume = 1.0f) {
    return AppVolume{volume, isMuted, std::move(uids), isCued, cueVolume};
}

// The entry's bytes as text, or "<absent>".
inline std::string stored(const DefaultsStore& defaults, const std::string& key) {
    auto bytes = defaults.data(key);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<absent>");
}

inline void storeText(DefaultsStore& defaults, const std::string& key, const std::string& text) {
    defaults.set(key, DefaultsValue(DefaultsData(text.begin(), text.end())));
}

} // namespace orevant::test
