#pragma once
// The OSC 1.0 packet format of the companion link: the two message shapes that are sent (one
// float, or one string) and the decoder of received messages with one numeric argument.
// Pure functions; any thread.
#include "platform/clamp_unit.h"
#include "remote/osc_message.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orevant {

class OSCCodec {
public:
    using Bytes = std::vector<uint8_t>;

    // address, ",f", big-endian float. Empty when the address is not valid UTF-8.
    static Bytes encode(std::string_view address, float value);
    // address, ",s", the string padded. Empty when the address is not valid UTF-8.
    static Bytes encode(std::string_view address, std::string_view string);

    // One datagram as one message. Nothing for bundles, malformed packets, a first argument
    // whose tag is neither "f" nor "i", or a missing argument. The value is returned as received (see clampValue); an "i"
    // argument is divided by 127. Reads nothing outside [data, data + size).
    static std::optional<OSCMessage> decode(const uint8_t* data, size_t size);

    // To 0...1; NaN becomes 1.
    static float clampValue(float value) { return clampUnit(value, 1.0f); }

    static bool isValidUTF8(std::string_view text);
};

} // namespace orevant
