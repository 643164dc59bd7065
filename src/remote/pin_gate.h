#pragma once
// Admits OSC messages whose address carries the pairing PIN ("/a/<PIN>/rest") and locks every
// sender out for 10 seconds after 10 bad PINs. The count clears only when a lockout starts, never
// on a right PIN, so no sender's messages give another sender more guesses.
// Any thread: the state is guarded by one lock, held only for the check itself. Time comes from
// the injected clock.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

class HostClock;
class LogBudget;

class PINGate {
public:
    static constexpr int kMaxFailures = 10;
    static constexpr double kLockoutSeconds = 10.0;

    // With a `budget`, the lockout line is written only when the budget allows (it is caused by
    // senders without the PIN).
    explicit PINGate(const HostClock& clock, LogBudget* budget = nullptr);

    // Replaces the stored PIN; the failure count and the lockout stay as they are.
    void setPIN(std::string pin);

    // The address from the "/" after the PIN on ("/a/123456/panic" -> "/panic") when admitted.
    // Addresses without the "/a/<PIN>/" form are rejected without being counted; a wrong PIN, or
    // any PIN while none is stored, is counted; messages during a lockout are neither counted nor
    // extend it.
    std::optional<std::string> admit(std::string_view address);

    int failureCount() const;
    bool isLockedOut() const;
    // Diagnostics: bad PINs counted since construction (each one a guess that was checked).
    size_t badPINsCounted() const;

private:
    const HostClock& clock_;
    LogBudget* budget_;
    mutable std::mutex pinLock_;
    std::string storedPIN_;
    int failureCount_ = 0;
    size_t badPINsCounted_ = 0;
    double lockoutUntil_;
};

} // namespace orevant
