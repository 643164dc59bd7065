#pragma once
// The hot loops of the render path, built twice from one source (render_kernels_impl.h): a
// portable set for any CPU of the target architecture, and on x86-64 a set for CPUs with AVX2
// and FMA. The set is chosen once at run time; OREVANT_KERNELS=portable in the environment forces
// the portable set (to measure both on one machine, or to rule the wide kernels out). Both sets
// compute the same values bit for bit: they differ only in how many samples one instruction
// carries.
//
// Threads: renderKernels() and the other choosers on the main queue (the first call reads the
// environment and the CPU); the kernels on the IO thread: wait-free, no allocation, no lock, no
// system call.
#include <cstddef>
#include <cstdint>

namespace orevant {

struct ChannelSlice {
    int start = 0;
    int count = 1;
    bool operator==(const ChannelSlice&) const = default;
};

// The one-pole ramp g += k × (target − g), taken a block of frames at a time in closed form:
// after i steps from g₀ the gain is target + (g₀ − target) × (1 − k)^i. The powers are worked
// out once per coefficient, in double precision.
struct RampTable {
    static constexpr int kBlock = 16;
    float k = 0.0f;
    float powers[kBlock] = {};         // (1 − k)^1 … (1 − k)^16
    float pairPowers[2 * kBlock] = {}; // each of them twice, for interleaved stereo frames

    static RampTable forCoefficient(float k) noexcept;
};

// One bus's gain as a call starts (updated to the gain it ends with) and the target it ramps to.
struct BusRamp {
    float gain = 0.0f;
    float target = 0.0f;
};

// One call: the source's frames copied into one or two channel slices of the destination, each
// slice at its own ramped gain. Frames = min(destination samples ÷ its channels, source samples ÷
// its channels), channel counts of 0 counting as 1.
struct FrameJob {
    const float* source = nullptr;
    uint32_t sourceChannels = 0;
    size_t sourceSamples = 0;
    float* destination = nullptr;
    uint32_t destinationChannels = 0;
    size_t destinationSamples = 0;
    ChannelSlice main;
    BusRamp* mainRamp = nullptr;
    ChannelSlice phones;
    BusRamp* phonesRamp = nullptr; // none: there is no PHONES slice
    // True: every other sample of the destination, including what lies past the last whole
    // frame written, is set to 0. False: the slices are written and nothing else is touched.
    bool silenceOthers = true;
    // Work out the highest absolute sample of the MAIN slice over the frames written.
    bool meter = false;
    const RampTable* ramp = nullptr;
};

struct FrameResult {
    size_t frames = 0;
    float peak = 0.0f; // 0 unless metered; NaN samples are passed over
};

struct RenderKernels {
    const char* name;
    FrameResult (*writeFrames)(const FrameJob& job) noexcept;
    // The largest absolute value of n samples (0 when n is 0); NaNs are passed over.
    float (*peak)(const float* samples, size_t n) noexcept;
};

// The set the render path uses: the AVX2 set where the CPU has it, unless the environment says
// OREVANT_KERNELS=portable.
const RenderKernels& renderKernels();
const RenderKernels& portableRenderKernels();
// The AVX2 set, or none when this build or this CPU has no such set.
const RenderKernels* avx2RenderKernels();

} // namespace orevant
