#pragma once
// One application that uses audio: its process objects grouped under its owning process.
// Plain value; any thread.
#include "platform/audio_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orevant {

struct AudioApp {
    int32_t id = 0;                       // process identifier of the owning application
    std::string bundleID;                 // empty when it has none
    std::string name;                     // display name
    std::vector<AudioObjectID> objectIDs; // process objects of the application, ascending
    bool isPlaying = false;
    bool isRecording = false;

    bool operator==(const AudioApp&) const = default;
};

} // namespace orevant

template <>
struct std::hash<orevant::AudioApp> {
    size_t operator()(const orevant::AudioApp& app) const noexcept;
};
