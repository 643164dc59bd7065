#pragma once
// How the system recognises audio devices it made itself. Constants and pure functions; any
// thread.
#include "audio/audio_device.h"

#include <string_view>

namespace orevant {

// The public multi-output mirror aggregate of earlier versions, under this name and the former
// one. It is destroyed at start; while it is the default output nothing switches automatically.
inline constexpr std::string_view kMirrorAggregateUIDs[] = {"com.brenlake.orevant.multi-output",
                                                            "dev.tessaline.movra.multi-output"};

inline bool isMirrorAggregateUID(std::string_view uid) {
    return uid == kMirrorAggregateUIDs[0] || uid == kMirrorAggregateUIDs[1];
}

// The private aggregates around our taps ("OREVANT aggregate #…", or the former name's), which
// no device list shows.
inline bool isOwnTapAggregate(const AudioDevice& device) {
    const std::string_view name = device.name;
    return device.transport == transport::aggregate && (name.starts_with("OREVANT") || name.starts_with("Movra"));
}

} // namespace orevant
