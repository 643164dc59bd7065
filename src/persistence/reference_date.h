#pragma once
// A point in time as seconds since 2001-01-01 00:00:00 UTC, the form dates are stored in.
// A plain value: it round-trips through JSON exactly.
#include <compare>

namespace orevant {

struct ReferenceDate {
    // Seconds from 1970-01-01 to 2001-01-01, both UTC.
    static constexpr double unixOffset = 978307200.0;

    double secondsSinceReference = 0;

    static ReferenceDate now();
    static ReferenceDate fromUnixSeconds(double unixSeconds) { return {unixSeconds - unixOffset}; }
    double unixSeconds() const { return secondsSinceReference + unixOffset; }

    auto operator<=>(const ReferenceDate&) const = default;
};

} // namespace orevant
