#pragma once
// Owns one property-listener registration; destroying it removes exactly that registration.
// Main queue.
#include "platform/audio_server.h"

namespace orevant {

class HALListener {
public:
    HALListener(AudioServer& server, AudioObjectID objectID, PropertyAddress address, PropertyListenerBlock block);
    ~HALListener();
    HALListener(const HALListener&) = delete;
    HALListener& operator=(const HALListener&) = delete;

    AudioObjectID objectID() const { return objectID_; }
    const PropertyAddress& address() const { return address_; }
    // False when the server refused the registration; the block then never runs.
    bool isRegistered() const { return registered_; }

private:
    AudioServer& server_;
    AudioObjectID objectID_;
    PropertyAddress address_;
    ListenerID id_ = 0;
    bool registered_ = false;
};

} // namespace orevant
