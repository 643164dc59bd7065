#include "audio/observer_list.h"

#include <vector>

namespace orevant {

namespace {
struct Registration {
    std::weak_ptr<void> state;
    std::function<void()> remove;
    ~Registration() {
        if (!state.expired()) remove();
    }
};
} // namespace

ObserverList::Token ObserverList::add(Observer observer) {
    const uint64_t id = state_->nextID++;
    state_->observers.emplace(id, std::make_shared<Observer>(std::move(observer)));
    auto registration = std::make_shared<Registration>();
    registration->state = state_;
    std::weak_ptr<State> weak = state_;
    registration->remove = [weak, id] {
        if (auto state = weak.lock()) state->observers.erase(id);
    };
    return registration;
}

void ObserverList::notify() const {
    // Copy first: observers may register or unregister while being told.
    std::vector<std::pair<uint64_t, std::weak_ptr<Observer>>> snapshot;
    snapshot.reserve(state_->observers.size());
    for (const auto& [id, observer] : state_->observers) snapshot.emplace_back(id, observer);
    for (const auto& [id, weak] : snapshot) {
        if (!state_->observers.count(id)) continue;
        if (auto observer = weak.lock()) (*observer)();
    }
}

} // namespace orevant
