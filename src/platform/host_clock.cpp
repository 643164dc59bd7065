#include "platform/host_clock.h"

#include <time.h>

namespace orevant {

uint64_t MonotonicHostClock::ticks() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

} // namespace orevant
