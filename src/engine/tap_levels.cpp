#include "engine/tap_levels.h"

#include "persistence/app_volume.h"

namespace orevant {

void TapLevels::applyTo(ProcessTap& tap) const {
    tap.setVolume(volume);
    tap.setMuted(isMuted);
    tap.setCueVolume(cueVolume);
    tap.setPhonesMode(phonesMode);
    tap.setPhonesBusGain(phonesBusGain);
    tap.setPanicked(panicked);
}

TapLevels tapLevelsFor(const AppVolume& setting, bool anyCued, bool isPanicked, float phonesBusGain) {
    const bool atUnity = !setting.outputDeviceUIDs.empty() && !setting.isCued;
    return TapLevels{
        .volume = atUnity ? 1.0f : setting.volume,
        .isMuted = atUnity ? false : setting.isMuted,
        .cueVolume = setting.cueVolume,
        .phonesMode = phonesModeFor(anyCued, setting.isCued),
        .phonesBusGain = phonesBusGain,
        .panicked = isPanicked,
    };
}

} // namespace orevant
