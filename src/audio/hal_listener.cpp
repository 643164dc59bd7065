#include "audio/hal_listener.h"

namespace orevant {

HALListener::HALListener(AudioServer& server, AudioObjectID objectID, PropertyAddress address,
                         PropertyListenerBlock block)
    : server_(server), objectID_(objectID), address_(address) {
    registered_ = server_.addPropertyListener(objectID_, address_, std::move(block), id_) == 0;
}

HALListener::~HALListener() {
    if (registered_) server_.removePropertyListener(objectID_, address_, id_);
}

} // namespace orevant
