#pragma once
// Admits OSC messages whose address carries the pairing PIN ("/a/<PIN>/rest") and locks every
// sender out for 10 seconds after 10 bad PINs. Any thread: the state is guarded by one lock,
// held only for the check itself. Time comes from the injected clock.
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

class HostClock;

class PINGate {
public:
    static constexpr int kMaxFailures = 10;
    static constexpr double kLockoutSeconds = 10.0;

    explicit PINGate(const HostClock& clock);

    // Replaces the stored PIN; the failure count and the lockout stay as they are.
    void setPIN(std::string pin);

    // The address from the "/" after the PIN on ("/a/123456/panic" -> "/panic") when admitted.
    // Addresses without the "/a/<PIN>/" form are rejected without being counted; a wrong PIN, or
    // any PIN while none is stored, is counted; messages during a lockout are neither counted nor
    // extend it.
    std::optional<std::string> admit(std::string_view address);

    int failureCount() const;
    bool isLockedOut() const;

private:
    const HostClock& clock_;
    mutable std::mutex pinLock_;
    std::string storedPIN_;
    int failureCount_ = 0;
    double lockoutUntil_;
};

} // namespace orevant
