#include "audio/system_volume_controller.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "audio/volume_write_queue.h"
#include "platform/main_queue.h"

namespace orevant {

SystemVolumeController::SystemVolumeController(AudioDirection direction, AudioServer& server, MainQueue& mainQueue,
                                               VolumeWriteQueue& writes)
    : direction_(direction),
      server_(server),
      mainQueue_(mainQueue),
      writes_(writes),
      endpoint_{0, scopeFor(direction)} {}

SystemVolumeController::~SystemVolumeController() = default;

void SystemVolumeController::start() {
    std::weak_ptr<char> alive = alive_;
    MainQueue* queue = &mainQueue_;
    defaultDeviceListener_ = std::make_unique<HALListener>(
        server_, kAudioObjectSystemObject, PropertyAddress{defaultDeviceSelector(direction_), scope::global, 0},
        [this, alive, queue](uint32_t, const PropertyAddress*) {
            queue->post([this, alive] {
                if (alive.lock()) attachToDefaultDevice();
            });
        });
    attachToDefaultDevice();
}

void SystemVolumeController::attachToDefaultDevice() {
    const HAL hal(server_);
    AudioObjectID device = 0;
    try {
        device = hal.read<uint32_t>(kAudioObjectSystemObject, defaultDeviceSelector(direction_));
    } catch (const HALError&) {
        return;
    }
    if (device == 0) return;
    endpoint_.deviceID = device;
    try {
        deviceName_ = hal.readString(device, sel::name);
    } catch (const HALError&) {
        deviceName_.clear();
    }
    canSetVolume_ = hal.isSettable(device, sel::virtualMainVolume, endpoint_.scope);
    canMute_ = hal.isSettable(device, sel::mute, endpoint_.scope);

    std::weak_ptr<char> alive = alive_;
    MainQueue* queue = &mainQueue_;
    auto block = [this, alive, queue](uint32_t, const PropertyAddress*) {
        queue->post([this, alive] {
            if (alive.lock()) refresh();
        });
    };
    deviceListeners_.clear(); // the old device's registrations end here
    for (uint32_t selector : {sel::virtualMainVolume, sel::mute})
        deviceListeners_.push_back(
            std::make_unique<HALListener>(server_, device, PropertyAddress{selector, endpoint_.scope, 0}, block));
    observers_.notify();
    refresh();
}

void SystemVolumeController::changed() {
    if (onVolumeChanged) onVolumeChanged();
    observers_.notify();
}

void SystemVolumeController::refresh() {
    if (isWriting_) return;
    const HAL hal(server_);
    bool didChange = false;
    try {
        const float v = hal.read<float>(endpoint_.deviceID, sel::virtualMainVolume, endpoint_.scope);
        if (v != volume_) {
            volume_ = v;
            didChange = true;
        }
    } catch (const HALError&) {}
    try {
        const bool m = hal.read<uint32_t>(endpoint_.deviceID, sel::mute, endpoint_.scope) != 0;
        if (m != isMuted_) {
            isMuted_ = m;
            didChange = true;
        }
    } catch (const HALError&) {}
    if (didChange) changed();
}

void SystemVolumeController::setVolume(float v) {
    v = clampVolume(v);
    bool didChange = false;
    if (v != volume_) {
        volume_ = v;
        didChange = true;
    }
    std::optional<bool> mute;
    if (canMute_ && (v <= 0.0f) != isMuted_) {
        isMuted_ = v <= 0.0f;
        mute = isMuted_;
        didChange = true;
    }
    const int token = ++writeToken_;
    std::weak_ptr<char> alive = alive_;
    writes_.enqueue(VolumeWriteQueue::Write{endpoint_, v, mute}, [this, alive, token](bool success) {
        if (!alive.lock() || token != writeToken_) return;
        isWriting_ = false;
        if (!success) refresh();
    });
    isWriting_ = true;
    if (didChange) changed();
}

void SystemVolumeController::toggleMute() {
    const bool wanted = !isMuted_;
    try {
        HAL(server_).write(endpoint_.deviceID, sel::mute, endpoint_.scope, wanted ? 1u : 0u);
    } catch (const HALError&) {
        refresh();
        return;
    }
    if (wanted != isMuted_) {
        isMuted_ = wanted;
        changed();
    }
}

} // namespace orevant
