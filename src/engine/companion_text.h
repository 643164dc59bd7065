#pragma once
// Bounds on the texts that reach the phone's state document, so that a name or a console slot
// target can never make it too big for one datagram. Pure functions; any thread.
#include <cstddef>
#include <string>
#include <string_view>

namespace orevant {

inline constexpr size_t kMaxCompanionTextBytes = 255;

// The longest start of `text` of at most `maxBytes` that ends between two UTF-8 code points.
std::string_view cutUTF8(std::string_view text, size_t maxBytes = kMaxCompanionTextBytes);

// `text` as the phone is shown it: bytes that are not UTF-8 become U+FFFD and control characters
// spaces (each would cost up to six bytes in JSON), then cut as above.
std::string companionText(std::string_view text, size_t maxBytes = kMaxCompanionTextBytes);

} // namespace orevant
