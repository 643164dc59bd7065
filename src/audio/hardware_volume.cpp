#include "audio/hardware_volume.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "audio/volume_write_queue.h"
#include "platform/main_queue.h"

namespace orevant {

HardwareVolume::HardwareVolume(AudioServer& server, MainQueue& mainQueue, VolumeWriteQueue& writes, uint32_t scope)
    : server_(server), mainQueue_(mainQueue), writes_(writes), endpoint_{0, scope} {}

HardwareVolume::~HardwareVolume() { guard_.end(); }

void HardwareVolume::attach(AudioObjectID device, std::function<void()> onChange) {
    endpoint_.deviceID = device;
    const HAL hal(server_);
    canSetVolume_ = hal.isSettable(device, sel::virtualMainVolume, endpoint_.scope);
    canMute_ = hal.isSettable(device, sel::mute, endpoint_.scope);
    // The server calls listeners on the main queue; the owner's refresh is a task of its own.
    auto task = guard_.wrap(std::move(onChange));
    auto block = [queue = &mainQueue_, task](uint32_t, const PropertyAddress*) { queue->post(task); };
    listeners_.clear();
    for (uint32_t selector : {sel::virtualMainVolume, sel::mute})
        listeners_.push_back(
            std::make_unique<HALListener>(server_, device, PropertyAddress{selector, endpoint_.scope, 0}, block));
}

bool HardwareVolume::update(float& volume, bool& isMuted) const {
    if (isWriting_) return false;
    const HAL hal(server_);
    bool changed = false;
    try {
        const float level = hal.read<float>(endpoint_.deviceID, sel::virtualMainVolume, endpoint_.scope);
        changed |= level != volume;
        volume = level;
    } catch (const HALError&) {}
    try {
        const bool muted = hal.read<uint32_t>(endpoint_.deviceID, sel::mute, endpoint_.scope) != 0;
        changed |= muted != isMuted;
        isMuted = muted;
    } catch (const HALError&) {}
    return changed;
}

std::optional<bool> HardwareVolume::muteFollowingLevel(float level, bool isMuted) const {
    const bool wanted = level <= 0.0f;
    if (!canMute_ || wanted == isMuted) return std::nullopt;
    return wanted;
}

void HardwareVolume::write(float volume, std::optional<bool> mute, std::function<void()> onFailure) {
    const int token = ++writeToken_;
    auto completion = guard_.wrap([this, token, onFailure = std::move(onFailure)](bool success) {
        // Only the newest write decides: an older completion must not clear the echo guard.
        if (token != writeToken_) return;
        isWriting_ = false;
        if (!success && onFailure) onFailure();
    });
    writes_.enqueue(VolumeWriteQueue::Write{endpoint_, volume, mute}, std::move(completion));
    isWriting_ = true;
}

bool HardwareVolume::writeMute(bool muted) {
    try {
        HAL(server_).write(endpoint_.deviceID, sel::mute, endpoint_.scope, muted ? 1u : 0u);
    } catch (const HALError&) {
        return false;
    }
    return true;
}

} // namespace orevant
