#pragma once
// Volume and mute of the system default output (or input) device, following it when the
// default changes. Main queue only.
#include "audio/audio_direction.h"
#include "audio/device_reader.h"
#include "audio/hardware_volume.h"
#include "audio/volume_controlling.h"
#include "platform/lifetime_guard.h"

#include <functional>
#include <memory>
#include <string>

namespace orevant {

class VolumeWriteQueue;

class SystemVolumeController final : public VolumeControlling {
public:
    // `writes` is the queue shared by the two system controllers.
    SystemVolumeController(AudioDirection direction, AudioServer& server, MainQueue& mainQueue,
                           VolumeWriteQueue& writes);
    ~SystemVolumeController() override;

    // Listens to the default device and attaches to it.
    void start();
    void attachToDefaultDevice();
    void refresh();

    float volume() const override { return volume_; }
    bool isMuted() const override { return isMuted_; }
    bool canSetVolume() const override { return hardware_.canSetVolume(); }
    bool canMute() const override { return hardware_.canMute(); }
    void setVolume(float v) override;
    void toggleMute() override;
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) override {
        return observers_.add(std::move(observer));
    }

    AudioDirection direction() const { return direction_; }
    const std::string& deviceName() const { return deviceName_; }
    const VolumeEndpoint& endpoint() const { return hardware_.endpoint(); }
    bool isWriting() const { return hardware_.isWriting(); }
    // Called after volume or mute changed (by us or from outside).
    std::function<void()> onVolumeChanged;

private:
    void changed();

    AudioDirection direction_;
    AudioServer& server_;
    MainQueue& mainQueue_;
    float volume_ = 1.0f;
    bool isMuted_ = false;
    std::string deviceName_;
    PropertyWatch defaultDeviceListener_;
    ObserverList observers_;
    // Last: their callbacks end before the values above go.
    HardwareVolume hardware_;
    LifetimeGuard guard_;
};

} // namespace orevant
