#include "remote/pairing_pin.h"

#include "platform/defaults_store.h"

#include <cerrno>
#include <random>
#include <sys/random.h>

namespace orevant {

namespace {

// One random byte from getrandom(2); std::random_device (also the kernel's source on Linux)
// when the call is unavailable.
uint8_t randomByte() {
    uint8_t byte = 0;
    for (;;) {
        const ssize_t got = ::getrandom(&byte, 1, 0);
        if (got == 1) return byte;
        if (got < 0 && errno == EINTR) continue;
        break;
    }
    static thread_local std::random_device device;
    return static_cast<uint8_t>(device());
}

} // namespace

PairingPIN::PairingPIN(DefaultsStore& defaults) : defaults_(defaults) {
    const auto stored = defaults_.string(kDefaultsKey);
    if (stored && isValid(*stored)) {
        pin_ = *stored;
        return;
    }
    pin_ = generate();
    defaults_.set(kDefaultsKey, pin_);
}

void PairingPIN::regenerate() {
    pin_ = generate();
    defaults_.set(kDefaultsKey, pin_);
}

bool PairingPIN::isValid(const std::string& pin) {
    if (pin.size() != kLength) return false;
    for (const char c : pin)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string PairingPIN::generate() {
    std::string pin;
    pin.reserve(kLength);
    while (pin.size() < kLength) {
        const uint8_t byte = randomByte();
        // 250 is the largest multiple of 10 below 256: rejecting the rest keeps digits uniform.
        if (byte >= 250) continue;
        pin.push_back(static_cast<char>('0' + byte % 10));
    }
    return pin;
}

} // namespace orevant
