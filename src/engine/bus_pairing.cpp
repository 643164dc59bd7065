#include "engine/bus_pairing.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace orevant {

namespace {
// A channel offset: a whole number (written by any JSON encoder, so 2.0 counts) that fits an int.
int offset(const Json& j) {
    if (j.is_number()) {
        const double d = j.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && std::abs(d) <= std::numeric_limits<int>::max())
            return static_cast<int>(d);
    }
    throw std::invalid_argument("channel offset must be a whole number");
}
} // namespace

void to_json(Json& j, const BusPairing& value) {
    j = Json::object();
    j["mainOffset"] = value.mainOffset;
    j["phonesOffset"] = value.phonesOffset;
}

void from_json(const Json& j, BusPairing& value) {
    value.mainOffset = offset(j.at("mainOffset"));
    value.phonesOffset = offset(j.at("phonesOffset"));
}

} // namespace orevant
