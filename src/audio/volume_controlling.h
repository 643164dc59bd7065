#pragma once
// The small interface shared by hardware and bus level controllers. Main queue only.
#include "audio/observer_list.h"
#include "platform/clamp_unit.h"

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

} // namespace orevant
