#include "audio/audio_app.h"

#include <functional>

size_t std::hash<orevant::AudioApp>::operator()(const orevant::AudioApp& app) const noexcept {
    size_t h = std::hash<int32_t>{}(app.id);
    auto mix = [&h](size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>{}(app.bundleID));
    mix(std::hash<std::string>{}(app.name));
    for (auto id : app.objectIDs) mix(std::hash<uint32_t>{}(id));
    mix(app.isPlaying ? 1 : 2);
    mix(app.isRecording ? 4 : 8);
    return h;
}
