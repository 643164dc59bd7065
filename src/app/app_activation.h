#pragma once
// Whether the agent is the frontmost application, and news of it giving that up. A desktop
// toolkit answers from its windows; the headless agent is never frontmost. Main thread only.
#include <cstdint>
#include <functional>

namespace orevant {

class AppActivation {
public:
    using ObserverToken = uint64_t;
    virtual ~AppActivation() = default;

    virtual bool isActive() const = 0;
    // `observer` runs on the main thread each time the application resigns active.
    virtual ObserverToken addResignActiveObserver(std::function<void()> observer) = 0;
    virtual void removeObserver(ObserverToken token) = 0;
};

} // namespace orevant
