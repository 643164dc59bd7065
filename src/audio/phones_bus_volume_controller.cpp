#include "audio/phones_bus_volume_controller.h"

#include "platform/defaults_store.h"

#include <cmath>

namespace orevant {

PhonesBusVolumeController::PhonesBusVolumeController(DefaultsStore& defaults) : defaults_(defaults) {
    // A stored level from elsewhere could be out of range or not a number; the gain law needs 0...1.
    if (auto v = defaults_.real(kVolumeKey); v && std::isfinite(*v)) volume_ = clampUnit(static_cast<float>(*v));
    isMuted_ = defaults_.boolean(kMutedKey).value_or(false);
}

void PhonesBusVolumeController::setVolume(float v) {
    volume_ = clampUnit(v);
    defaults_.set(kVolumeKey, DefaultsValue(volume_));
    changed();
}

void PhonesBusVolumeController::toggleMute() {
    isMuted_ = !isMuted_;
    defaults_.set(kMutedKey, DefaultsValue(isMuted_));
    changed();
}

float PhonesBusVolumeController::gain() const {
    if (isMuted_) return 0.0f;
    const float v = clampUnit(volume_);
    return v * v * v;
}

void PhonesBusVolumeController::changed() {
    if (onChange) onChange();
    observers_.notify();
}

} // namespace orevant
