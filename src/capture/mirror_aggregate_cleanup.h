#pragma once
// Destroys the public multi-output mirror aggregates that earlier versions left behind, moving
// the default output off one first. Main queue; runs once at start-up.
#include "platform/audio_types.h"

#include <vector>

namespace orevant {

class AudioServer;

class MirrorAggregateCleanup {
public:
    explicit MirrorAggregateCleanup(AudioServer& server) : server_(server) {}

    void run();
    // The aggregate's sub-devices, in sub-device order, as IDs of listed devices.
    std::vector<AudioObjectID> subDevices(AudioObjectID aggregate) const;

private:
    AudioServer& server_;
};

} // namespace orevant
