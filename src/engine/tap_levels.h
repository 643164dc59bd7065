#pragma once
// What a running tap is told about its application: the MAIN level and mute, the cue level, how
// PHONES hears it, the PHONES bus gain and the panic. One function works them out for tap
// creation, scene recall and cue changes alike. Plain values; any thread.
#include "capture/process_tap.h"

namespace orevant {

struct AppVolume;

struct TapLevels {
    float volume = 1.0f;
    bool isMuted = false;
    float cueVolume = 1.0f;
    PhonesMode phonesMode = PhonesMode::sameAsMain;
    float phonesBusGain = 1.0f;
    bool panicked = false;

    // Pushes every level into `tap`.
    void applyTo(ProcessTap& tap) const;
    bool operator==(const TapLevels&) const = default;
};

// The levels of an application with `setting`. An application routed explicitly to its own
// devices and not cued plays at unity, unmuted: its level is its devices' volume.
TapLevels tapLevelsFor(const AppVolume& setting, bool anyCued, bool isPanicked, float phonesBusGain);

} // namespace orevant
