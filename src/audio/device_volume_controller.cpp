#include "audio/device_volume_controller.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "audio/volume_write_queue.h"
#include "platform/main_queue.h"

namespace orevant {

DeviceVolumeController::DeviceVolumeController(AudioObjectID deviceID, AudioServer& server, MainQueue& mainQueue,
                                               VolumeWriteQueue& writes)
    : server_(server), mainQueue_(mainQueue), writes_(writes), endpoint_{deviceID, scope::output} {
    const HAL hal(server_);
    canSetVolume_ = hal.isSettable(deviceID, sel::virtualMainVolume, endpoint_.scope);
    canMute_ = hal.isSettable(deviceID, sel::mute, endpoint_.scope);
    std::weak_ptr<char> alive = alive_;
    MainQueue* queue = &mainQueue_;
    auto block = [this, alive, queue](uint32_t, const PropertyAddress*) {
        queue->post([this, alive] {
            if (alive.lock()) refresh();
        });
    };
    for (uint32_t selector : {sel::virtualMainVolume, sel::mute})
        listeners_.push_back(
            std::make_unique<HALListener>(server_, deviceID, PropertyAddress{selector, endpoint_.scope, 0}, block));
    refresh();
}

DeviceVolumeController::~DeviceVolumeController() = default;

void DeviceVolumeController::refresh() {
    if (isWriting_) return;
    const HAL hal(server_);
    bool changed = false;
    try {
        const float v = hal.read<float>(endpoint_.deviceID, sel::virtualMainVolume, endpoint_.scope);
        changed |= v != volume_;
        volume_ = v;
    } catch (const HALError&) {}
    try {
        const bool m = hal.read<uint32_t>(endpoint_.deviceID, sel::mute, endpoint_.scope) != 0;
        changed |= m != isMuted_;
        isMuted_ = m;
    } catch (const HALError&) {}
    if (changed) observers_.notify();
}

void DeviceVolumeController::setVolume(float v) {
    v = clampVolume(v);
    volume_ = v;
    std::optional<bool> mute;
    if (canMute_ && (v <= 0.0f) != isMuted_) {
        isMuted_ = v <= 0.0f;
        mute = isMuted_;
    }
    const int token = ++writeToken_;
    std::weak_ptr<char> alive = alive_;
    writes_.enqueue(VolumeWriteQueue::Write{endpoint_, v, mute}, [this, alive, token](bool success) {
        if (!alive.lock() || token != writeToken_) return;
        isWriting_ = false;
        if (!success) refresh();
    });
    isWriting_ = true;
    observers_.notify();
}

void DeviceVolumeController::toggleMute() {
    const bool wanted = !isMuted_;
    try {
        HAL(server_).write(endpoint_.deviceID, sel::mute, endpoint_.scope, wanted ? 1u : 0u);
    } catch (const HALError&) {
        refresh();
        return;
    }
    isMuted_ = wanted;
    observers_.notify();
}

} // namespace orevant
