#include "audio/system_volume_controller.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "platform/main_queue.h"

namespace orevant {

SystemVolumeController::SystemVolumeController(AudioDirection direction, AudioServer& server, MainQueue& mainQueue,
                                               VolumeWriteQueue& writes)
    : direction_(direction),
      server_(server),
      mainQueue_(mainQueue),
      hardware_(server, mainQueue, writes, scopeFor(direction)) {}

SystemVolumeController::~SystemVolumeController() = default;

void SystemVolumeController::start() {
    defaultDeviceListener_ = DeviceReader(server_).watchDefaultDevice(direction_, mainQueue_,
                                                                      guard_.wrap([this] { attachToDefaultDevice(); }));
    attachToDefaultDevice();
}

void SystemVolumeController::attachToDefaultDevice() {
    const HAL hal(server_);
    AudioObjectID device = 0;
    try {
        device = DeviceReader(server_).defaultDevice(direction_);
    } catch (const HALError&) {
        return;
    }
    if (device == 0) return;
    try {
        deviceName_ = hal.readString(device, sel::name);
    } catch (const HALError&) {
        deviceName_.clear();
    }
    hardware_.attach(device, [this] { refresh(); });
    observers_.notify();
    refresh();
}

void SystemVolumeController::changed() {
    if (onVolumeChanged) onVolumeChanged();
    observers_.notify();
}

void SystemVolumeController::refresh() {
    if (hardware_.update(volume_, isMuted_)) changed();
}

void SystemVolumeController::setVolume(float v) {
    v = clampUnit(v);
    bool didChange = v != volume_;
    volume_ = v;
    const std::optional<bool> mute = hardware_.muteFollowingLevel(v, isMuted_);
    if (mute) {
        isMuted_ = *mute;
        didChange = true;
    }
    hardware_.write(v, mute, [this] { refresh(); });
    if (didChange) changed();
}

void SystemVolumeController::toggleMute() {
    const bool wanted = !isMuted_;
    if (!hardware_.writeMute(wanted)) {
        refresh();
        return;
    }
    if (wanted != isMuted_) {
        isMuted_ = wanted;
        changed();
    }
}

} // namespace orevant
