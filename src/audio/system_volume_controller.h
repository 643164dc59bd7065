#pragma once
// Volume and mute of the system default output (or input) device, following it when the
// default changes. Main queue only.
#include "audio/audio_direction.h"
#include "audio/volume_controlling.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orevant {

class AudioServer;
class HALListener;
class MainQueue;
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
    bool canSetVolume() const override { return canSetVolume_; }
    bool canMute() const override { return canMute_; }
    void setVolume(float v) override;
    void toggleMute() override;
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) override {
        return observers_.add(std::move(observer));
    }

    AudioDirection direction() const { return direction_; }
    const std::string& deviceName() const { return deviceName_; }
    const VolumeEndpoint& endpoint() const { return endpoint_; }
    bool isWriting() const { return isWriting_; }
    // Called after volume or mute changed (by us or from outside).
    std::function<void()> onVolumeChanged;

private:
    void changed();

    AudioDirection direction_;
    AudioServer& server_;
    MainQueue& mainQueue_;
    VolumeWriteQueue& writes_;
    float volume_ = 1.0f;
    bool isMuted_ = false;
    std::string deviceName_;
    bool canSetVolume_ = true;
    bool canMute_ = true;
    int writeToken_ = 0;
    bool isWriting_ = false;
    VolumeEndpoint endpoint_;
    std::unique_ptr<HALListener> defaultDeviceListener_;
    std::vector<std::unique_ptr<HALListener>> deviceListeners_;
    ObserverList observers_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

} // namespace orevant
