#pragma once
// Host clock: a monotonic tick counter with its timebase. Read from any thread, wait-free.
#include <cstdint>

namespace orevant {

class HostClock {
public:
    virtual ~HostClock() = default;
    virtual uint64_t ticks() const = 0;
    virtual double secondsPerTick() const = 0;
    double seconds() const { return static_cast<double>(ticks()) * secondsPerTick(); }
};

// CLOCK_MONOTONIC in nanoseconds.
class MonotonicHostClock final : public HostClock {
public:
    uint64_t ticks() const override;
    double secondsPerTick() const override { return 1e-9; }
};

} // namespace orevant
