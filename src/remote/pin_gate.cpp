#include "remote/pin_gate.h"

#include "platform/host_clock.h"
#include "platform/logger.h"
#include "remote/log_budget.h"

#include <limits>

namespace orevant {

PINGate::PINGate(const HostClock& clock, LogBudget* budget)
    : clock_(clock), budget_(budget), lockoutUntil_(-std::numeric_limits<double>::infinity()) {}

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
        // A right PIN leaves the count alone: were it to clear it, every message of the phone
        // would hand an attacker nine more guesses.
        if (!storedPIN_.empty() && storedPIN_ == candidate) return std::string(afterPrefix.substr(slash));
        ++badPINsCounted_;
        if (++failureCount_ >= kMaxFailures) {
            failureCount_ = 0;
            lockoutUntil_ = now + kLockoutSeconds;
            lockedOutNow = true;
        }
    }
    // Logged outside the lock: the sink may block.
    if (lockedOutNow && (!budget_ || budget_->take()))
        Logger("OSCListener").error("Too many bad PINs; ignoring OSC for 10s");
    return std::nullopt;
}

size_t PINGate::badPINsCounted() const {
    std::lock_guard lock(pinLock_);
    return badPINsCounted_;
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
