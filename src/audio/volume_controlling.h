#pragma once
// The small interface shared by hardware and bus level controllers. Main queue only.
#include "audio/observer_list.h"

namespace orevant {

class VolumeControlling {
public:
    virtual ~VolumeControlling() = default;
    virtual float volume() const = 0;
    virtual bool isMuted() const = 0;
    virtual bool canSetVolume() const = 0;
    virtual bool canMute() const = 0;
    virtual void setVolume(float v) = 0;
    virtual void toggleMute() = 0;
    // The observer runs after any of the four values above changed.
    [[nodiscard]] virtual ObserverList::Token addObserver(ObserverList::Observer observer) = 0;
};

// Limits a control value to 0...1 (NaN gives 0).
inline float clampVolume(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return v > 1.0f ? 1.0f : v;
}

} // namespace orevant
