#include "audio/device_volume_controller.h"

namespace orevant {

DeviceVolumeController::DeviceVolumeController(AudioObjectID deviceID, AudioServer& server, MainQueue& mainQueue,
                                               VolumeWriteQueue& writes)
    : hardware_(server, mainQueue, writes, scope::output) {
    hardware_.attach(deviceID, [this] { refresh(); });
    refresh();
}

DeviceVolumeController::~DeviceVolumeController() = default;

void DeviceVolumeController::refresh() {
    if (hardware_.update(volume_, isMuted_)) observers_.notify();
}

void DeviceVolumeController::setVolume(float v) {
    volume_ = clampUnit(v);
    const std::optional<bool> mute = hardware_.muteFollowingLevel(volume_, isMuted_);
    if (mute) isMuted_ = *mute;
    hardware_.write(volume_, mute, [this] { refresh(); });
    observers_.notify();
}

void DeviceVolumeController::toggleMute() {
    if (!hardware_.writeMute(!isMuted_)) {
        refresh();
        return;
    }
    isMuted_ = !isMuted_;
    observers_.notify();
}

} // namespace orevant
