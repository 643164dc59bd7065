#pragma once
// Case-insensitive ordering of display names (application, device and Bluetooth names).
// Any thread.
#include <string_view>

namespace orevant {

// Negative, zero or positive as `a` orders before, equal to or after `b`, ignoring case
// (ASCII and Latin-1 letters fold; other characters compare by code point).
int localizedCaseInsensitiveCompare(std::string_view a, std::string_view b);

inline bool localizedCaseInsensitiveLess(std::string_view a, std::string_view b) {
    return localizedCaseInsensitiveCompare(a, b) < 0;
}

} // namespace orevant
