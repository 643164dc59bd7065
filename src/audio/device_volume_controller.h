#pragma once
// Volume and mute of one fixed output device. Main queue only.
#include "audio/audio_direction.h"
#include "audio/hardware_volume.h"
#include "audio/volume_controlling.h"

namespace orevant {

class AudioServer;
class MainQueue;
class VolumeWriteQueue;

class DeviceVolumeController final : public VolumeControlling {
public:
    // `writes` is the queue shared by every device controller.
    DeviceVolumeController(AudioObjectID deviceID, AudioServer& server, MainQueue& mainQueue, VolumeWriteQueue& writes);
    ~DeviceVolumeController() override;

    float volume() const override { return volume_; }
    bool isMuted() const override { return isMuted_; }
    bool canSetVolume() const override { return hardware_.canSetVolume(); }
    bool canMute() const override { return hardware_.canMute(); }
    void setVolume(float v) override;
    void toggleMute() override;
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) override {
        return observers_.add(std::move(observer));
    }

    // Re-reads level and mute, unless a write of ours is in flight.
    void refresh();
    const VolumeEndpoint& endpoint() const { return hardware_.endpoint(); }
    bool isWriting() const { return hardware_.isWriting(); }

private:
    float volume_ = 1.0f;
    bool isMuted_ = false;
    ObserverList observers_;
    // Last: its callbacks end before the values above go.
    HardwareVolume hardware_;
};

} // namespace orevant
