#pragma once
// The six-digit pairing PIN the companion must put in every message, kept in the defaults store
// under "companionPairingPIN". Main queue only.
#include <string>

namespace orevant {

class DefaultsStore;

class PairingPIN {
public:
    static constexpr const char* kDefaultsKey = "companionPairingPIN";
    static constexpr size_t kLength = 6;

    // Uses the stored PIN when it is six decimal digits; otherwise makes and stores a new one.
    explicit PairingPIN(DefaultsStore& defaults);

    const std::string& pin() const { return pin_; }
    // A fresh PIN, published and stored.
    void regenerate();

    static bool isValid(const std::string& pin);
    // Six digits, each uniform in 0...9, from the kernel's cryptographic random source.
    static std::string generate();

private:
    std::string pin_;
    DefaultsStore& defaults_;
};

} // namespace orevant
