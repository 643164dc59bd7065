#pragma once
// Watches one device's "livn" (device is alive): when the server reports it gone, the owner's
// handler runs once, on the main queue. An aggregate whose output device vanished reads dead at
// once, so its owner can rebuild it instead of waiting for a watchdog.
//
// Main queue: construction, destruction and the handler. Dropping the watch ends it; a report
// that arrives after that does nothing.
#include "audio/hal_listener.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <functional>
#include <memory>

namespace orevant {

class DeviceLivenessWatch {
public:
    DeviceLivenessWatch(AudioServer& server, MainQueue& mainQueue, AudioObjectID device, std::function<void()> onDead);
    ~DeviceLivenessWatch() { guard_.end(); }
    DeviceLivenessWatch(const DeviceLivenessWatch&) = delete;
    DeviceLivenessWatch& operator=(const DeviceLivenessWatch&) = delete;

    AudioObjectID device() const { return device_; }

private:
    void check();

    AudioServer& server_;
    AudioObjectID device_;
    std::function<void()> onDead_;
    bool reported_ = false;
    LifetimeGuard guard_;
    std::unique_ptr<HALListener> listener_;
};

} // namespace orevant
