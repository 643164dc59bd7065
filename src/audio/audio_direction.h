#pragma once
#include "platform/audio_types.h"

namespace orevant {

enum class AudioDirection { output, input };

constexpr uint32_t scopeFor(AudioDirection direction) {
    return direction == AudioDirection::output ? scope::output : scope::input;
}

constexpr uint32_t defaultDeviceSelector(AudioDirection direction) {
    return direction == AudioDirection::output ? sel::defaultOutputDevice : sel::defaultInputDevice;
}

// Volume and mute of one device in one direction.
struct VolumeEndpoint {
    AudioObjectID deviceID = 0;
    uint32_t scope = scope::output;
    bool operator==(const VolumeEndpoint&) const = default;
};

} // namespace orevant
