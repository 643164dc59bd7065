#pragma once
// The property-listener registrations of an audio server, and their delivery: a change posts
// every matching block to the main queue, where it runs unless its registration was removed
// in the meantime (or the registry is gone).
//
// Threads: every method from any thread; blocks run on the main queue.
#include "platform/audio_server.h"
#include "platform/main_queue.h"

#include <map>
#include <memory>
#include <mutex>

namespace orevant {

class PropertyListeners {
public:
    explicit PropertyListeners(MainQueue& mainQueue);
    PropertyListeners(const PropertyListeners&) = delete;
    PropertyListeners& operator=(const PropertyListeners&) = delete;

    ListenerID add(AudioObjectID object, const PropertyAddress& address, PropertyListenerBlock block);
    // False when no registration has that ID with that object and address.
    bool remove(AudioObjectID object, const PropertyAddress& address, ListenerID id);
    // A change of (object, selector, scope): listeners of that scope, of the global scope, and
    // every listener of the selector when the change is global.
    void notify(AudioObjectID object, uint32_t selector, uint32_t scope);
    size_t count(AudioObjectID object, uint32_t selector) const;

private:
    struct Registration {
        AudioObjectID object;
        PropertyAddress address;
        std::shared_ptr<PropertyListenerBlock> block;
    };
    // Shared with the posted deliveries, which may outlive the registry.
    struct State {
        std::mutex mutex;
        std::map<ListenerID, Registration> registrations;
        ListenerID nextID = 1;
    };

    MainQueue& mainQueue_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace orevant
