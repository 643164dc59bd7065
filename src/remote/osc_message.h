#pragma once
// One decoded OSC message: its address and the value of its first numeric argument.
#include <string>

namespace orevant {

struct OSCMessage {
    std::string address;
    float value = 0;
    bool operator==(const OSCMessage&) const = default;
};

} // namespace orevant
