#pragma once
// Flushes denormal numbers to zero (FTZ) and reads denormal inputs as zero (DAZ) for as long as
// it lives, then puts the floating-point control word back as it was. A denormal sample makes
// every operation on it many times slower; an audible signal never needs one.
//
// Threads: any; it changes only the calling thread's control register (no system call).
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace orevant {

class DenormalGuard {
public:
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;
#if defined(__x86_64__) || defined(__i386__)
    // Writing the control register costs more than reading it: a thread that already flushes
    // (as audio threads often do) is left alone.
    DenormalGuard() noexcept : saved_(_mm_getcsr()) {
        if ((saved_ & kFlush) != kFlush) _mm_setcsr(saved_ | kFlush);
    }
    ~DenormalGuard() {
        if ((saved_ & kFlush) != kFlush) _mm_setcsr(saved_);
    }

private:
    static constexpr uint32_t kFlush = 0x8000 | 0x0040; // MXCSR bits 15 (flush to zero), 6 (denormals are zero)
    uint32_t saved_;
#elif defined(__aarch64__)
    DenormalGuard() noexcept {
        __asm__ volatile("mrs %0, fpcr" : "=r"(saved_));
        const uint64_t flushed = saved_ | kFlushToZero;
        __asm__ volatile("msr fpcr, %0" : : "r"(flushed));
    }
    ~DenormalGuard() { __asm__ volatile("msr fpcr, %0" : : "r"(saved_)); }

private:
    static constexpr uint64_t kFlushToZero = uint64_t{1} << 24; // FPCR.FZ: inputs and outputs
    uint64_t saved_;
#else
    DenormalGuard() noexcept {}
#endif
};

} // namespace orevant
