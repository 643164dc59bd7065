#pragma once
// Observers of a main-queue model object. Main queue only.
//
// `add` returns a token; the observer stays registered while the token lives. Dropping the
// token (or the observed object) ends the registration, in either order.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace orevant {

class ObserverList {
public:
    using Observer = std::function<void()>;
    using Token = std::shared_ptr<void>;

    ObserverList() : state_(std::make_shared<State>()) {}
    ObserverList(const ObserverList&) = delete;
    ObserverList& operator=(const ObserverList&) = delete;

    [[nodiscard]] Token add(Observer observer);
    // Calls every registered observer; an observer may add or drop registrations meanwhile.
    void notify() const;
    size_t size() const { return state_->observers.size(); }

private:
    struct State {
        uint64_t nextID = 1;
        std::map<uint64_t, std::shared_ptr<Observer>> observers;
    };
    std::shared_ptr<State> state_;
};

} // namespace orevant
