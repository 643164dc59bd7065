#pragma once
// Volume and mute of one fixed output device. Main queue only.
#include "audio/audio_direction.h"
#include "audio/volume_controlling.h"

#include <memory>
#include <vector>

namespace orevant {

class AudioServer;
class HALListener;
class MainQueue;
class VolumeWriteQueue;

class DeviceVolumeController final : public VolumeControlling {
public:
    // `writes` is the queue shared by every device controller.
    DeviceVolumeController(AudioObjectID deviceID, AudioServer& server, MainQueue& mainQueue, VolumeWriteQueue& writes);
    ~DeviceVolumeController() override;

    float volume() const override { return volume_; }
    bool isMuted() const override { return isMuted_; }
    bool canSetVolume() const override { return canSetVolume_; }
    bool canMute() const override { return canMute_; }
    void setVolume(float v) override;
    void toggleMute() override;
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) override {
        return observers_.add(std::move(observer));
    }

    // Re-reads level and mute, unless a write of ours is in flight.
    void refresh();
    const VolumeEndpoint& endpoint() const { return endpoint_; }
    bool isWriting() const { return isWriting_; }

private:
    AudioServer& server_;
    MainQueue& mainQueue_;
    VolumeWriteQueue& writes_;
    float volume_ = 1.0f;
    bool isMuted_ = false;
    bool canSetVolume_ = true;
    bool canMute_ = true;
    VolumeEndpoint endpoint_;
    std::vector<std::unique_ptr<HALListener>> listeners_;
    int writeToken_ = 0;
    bool isWriting_ = false;
    ObserverList observers_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

} // namespace orevant
