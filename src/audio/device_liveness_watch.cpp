#include "audio/device_liveness_watch.h"

#include "audio/hal.h"

namespace orevant {

DeviceLivenessWatch::DeviceLivenessWatch(AudioServer& server, MainQueue& mainQueue, AudioObjectID device,
                                         std::function<void()> onDead)
    : server_(server), device_(device), onDead_(std::move(onDead)) {
    MainQueue* queue = &mainQueue;
    listener_ = std::make_unique<HALListener>(
        server_, device_, PropertyAddress{sel::deviceIsAlive, scope::global, 0},
        [this, queue](uint32_t, const PropertyAddress*) { queue->post(guard_.wrap([this] { check(); })); });
}

void DeviceLivenessWatch::check() {
    if (reported_) return;
    bool dead = false;
    try {
        dead = HAL(server_).read<uint32_t>(device_, sel::deviceIsAlive) == 0;
    } catch (const HALError&) {
        dead = true; // a device that cannot be read any more is gone
    }
    if (!dead) return;
    reported_ = true;
    // The handler may drop this watch: nothing of it is used after the call.
    auto handler = onDead_;
    handler();
}

} // namespace orevant
