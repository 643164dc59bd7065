#include "remote/pin_gate.h"

#include "platform/host_clock.h"
#include "platform/logger.h"

#include <limits>

namespace orevant {

PINGate::PINGate(const HostClock& clock) : clock_(clock), lockoutUntil_(-std::numeric_limits<double>::infinity()) {}

void PINGate::setPIN(std::string pin) {
    std::lock_guard lock(pinLock_);
    storedPIN_ = std::move(pin);
}

std::optional<std::string> PINGate::admit(std::string_view address) {
    constexpr std::string_view prefix = "/a/";
    if (address.substr(0, prefix.size()) != prefix) return std::nullopt;
    const std::string_view afterPrefix = address.substr(prefix.size());
    const size_t slash = afterPrefix.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view candidate = afterPrefix.substr(0, slash);

    const double now = clock_.seconds();
    bool lockedOutNow = false;
    {
        std::lock_guard lock(pinLock_);
        if (now < lockoutUntil_) return std::nullopt;
        if (!storedPIN_.empty() && storedPIN_ == candidate) {
            failureCount_ = 0;
            return std::string(afterPrefix.substr(slash));
        }
        if (++failureCount_ >= kMaxFailures) {
            failureCount_ = 0;
            lockoutUntil_ = now + kLockoutSeconds;
            lockedOutNow = true;
        }
    }
    // Logged outside the lock: the sink may block.
    if (lockedOutNow) Logger("OSCListener").error("Too many bad PINs; ignoring OSC for 10s");
    return std::nullopt;
}

int PINGate::failureCount() const {
    std::lock_guard lock(pinLock_);
    return failureCount_;
}

bool PINGate::isLockedOut() const {
    const double now = clock_.seconds();
    std::lock_guard lock(pinLock_);
    return now < lockoutUntil_;
}

} // namespace orevant
