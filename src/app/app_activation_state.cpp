#include "app/app_activation_state.h"

#include <vector>

namespace orevant {

AppActivation::ObserverToken AppActivationState::addResignActiveObserver(std::function<void()> observer) {
    const ObserverToken token = next_++;
    observers_[token] = std::make_shared<std::function<void()>>(std::move(observer));
    return token;
}

void AppActivationState::removeObserver(ObserverToken token) { observers_.erase(token); }

void AppActivationState::setActive(bool active) {
    const bool resigned = active_ && !active;
    active_ = active;
    if (!resigned) return;
    // An observer may remove itself (or others) while it runs.
    std::vector<ObserverToken> tokens;
    for (auto& entry : observers_) tokens.push_back(entry.first);
    for (ObserverToken token : tokens) {
        auto it = observers_.find(token);
        if (it == observers_.end()) continue;
        auto observer = it->second;
        (*observer)();
    }
}

} // namespace orevant
