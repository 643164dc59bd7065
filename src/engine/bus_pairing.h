#pragma once
// The user's choice of MAIN and PHONES channel pairs on one output device. A plain value,
// compared field by field; stored as {"mainOffset": n, "phonesOffset": n}.
#include "persistence/json_defaults.h"

namespace orevant {

struct BusPairing {
    int mainOffset = 0;   // first output channel of MAIN (0 = outputs 1/2)
    int phonesOffset = 2; // first output channel of PHONES

    bool operator==(const BusPairing&) const = default;
};

// Both keys are required when reading; a missing key or a non-integer value throws.
void to_json(Json& j, const BusPairing& value);
void from_json(const Json& j, BusPairing& value);

} // namespace orevant
