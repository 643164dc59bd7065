#include "persistence/reference_date.h"

#include <chrono>

namespace orevant {

ReferenceDate ReferenceDate::now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return fromUnixSeconds(std::chrono::duration<double>(since).count());
}

} // namespace orevant
