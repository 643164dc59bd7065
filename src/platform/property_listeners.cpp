#include "platform/property_listeners.h"

#include <algorithm>
#include <vector>

namespace orevant {

PropertyListeners::PropertyListeners(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

ListenerID PropertyListeners::add(AudioObjectID object, const PropertyAddress& address, PropertyListenerBlock block) {
    std::lock_guard lock(state_->mutex);
    const ListenerID id = state_->nextID++;
    state_->registrations[id] =
        Registration{object, address, std::make_shared<PropertyListenerBlock>(std::move(block))};
    return id;
}

bool PropertyListeners::remove(AudioObjectID object, const PropertyAddress& address, ListenerID id) {
    std::lock_guard lock(state_->mutex);
    auto it = state_->registrations.find(id);
    if (it == state_->registrations.end() || it->second.object != object || !(it->second.address == address))
        return false;
    state_->registrations.erase(it);
    return true;
}

void PropertyListeners::notify(AudioObjectID object, uint32_t selector, uint32_t scope) {
    std::vector<ListenerID> ids;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& [id, r] : state_->registrations)
            if (r.object == object && r.address.selector == selector &&
                (r.address.scope == scope || scope == scope::global || r.address.scope == scope::global))
                ids.push_back(id);
    }
    std::weak_ptr<State> weak = state_;
    for (ListenerID id : ids) {
        mainQueue_.post([weak, id] {
            auto state = weak.lock();
            if (!state) return;
            std::shared_ptr<PropertyListenerBlock> block;
            PropertyAddress address;
            {
                std::lock_guard lock(state->mutex);
                auto it = state->registrations.find(id);
                if (it == state->registrations.end()) return; // removed before delivery
                block = it->second.block;
                address = it->second.address;
            }
            (*block)(1, &address);
        });
    }
}

size_t PropertyListeners::count(AudioObjectID object, uint32_t selector) const {
    std::lock_guard lock(state_->mutex);
    return static_cast<size_t>(
        std::count_if(state_->registrations.begin(), state_->registrations.end(), [&](const auto& kv) {
            return kv.second.object == object && kv.second.address.selector == selector;
        }));
}

} // namespace orevant
