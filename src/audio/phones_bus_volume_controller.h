#pragma once
// The PHONES bus level: a software gain kept in the defaults store under "phonesBusVolume" and
// "phonesBusMuted". Main queue only.
#include "audio/volume_controlling.h"

#include <functional>

namespace orevant {

class DefaultsStore;

class PhonesBusVolumeController final : public VolumeControlling {
public:
    static constexpr const char* kVolumeKey = "phonesBusVolume";
    static constexpr const char* kMutedKey = "phonesBusMuted";

    explicit PhonesBusVolumeController(DefaultsStore& defaults);

    float volume() const override { return volume_; }
    bool isMuted() const override { return isMuted_; }
    bool canSetVolume() const override { return true; }
    bool canMute() const override { return true; }
    void setVolume(float v) override;
    void toggleMute() override;
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) override {
        return observers_.add(std::move(observer));
    }

    // Linear gain for the render path: 0 when muted, else the cube of the level.
    float gain() const;
    // Called after every change.
    std::function<void()> onChange;

private:
    void changed();

    DefaultsStore& defaults_;
    float volume_ = 1.0f;
    bool isMuted_ = false;
    ObserverList observers_;
};

} // namespace orevant
