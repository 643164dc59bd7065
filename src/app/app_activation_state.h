#pragma once
// An AppActivation whose state is set by its owner: the headless agent (never active) and tests.
// Main thread only.
#include "app/app_activation.h"

#include <map>
#include <memory>

namespace orevant {

class AppActivationState final : public AppActivation {
public:
    bool isActive() const override { return active_; }
    ObserverToken addResignActiveObserver(std::function<void()> observer) override;
    void removeObserver(ObserverToken token) override;

    // Becoming inactive runs the resign-active observers, synchronously.
    void setActive(bool active);
    size_t observerCount() const { return observers_.size(); }

private:
    bool active_ = false;
    ObserverToken next_ = 1;
    std::map<ObserverToken, std::shared_ptr<std::function<void()>>> observers_;
};

} // namespace orevant
