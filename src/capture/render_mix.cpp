#include "capture/render_mix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orevant {

ChannelSlice slice(int offset, int width, int channels) noexcept {
    const int c = std::max(channels, 1);
    const int start = std::min(c - 1, std::max(offset, 0));
    const int count = std::min(c - start, std::max(width, 1));
    return {start, count};
}

float clampControl(float value) noexcept { return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f; }

float gainForControl(float value) noexcept {
    const float v = clampControl(value);
    return v * v * v;
}

float rampCoefficient(double sampleRate) noexcept {
    const float rate = static_cast<float>(sampleRate);
    return 1.0f - std::exp(-1.0f / (rate * 0.03f));
}

namespace {} // namespace

float settledGain(float g, float target, float k) noexcept {
    if (std::fabs(g - target) < kGainSnap) return target;
    // In single precision the step k × (target − g) falls below half a unit in the last place of
    // g some way short of the target (about 4e-5 below a target of 1 at 48 kHz), and the ramp
    // would hang there forever. Once a step no longer moves the gain it lands on the target.
    if (k > 0.0f && g + k * (target - g) == g) return target;
    return g;
}

namespace {

// Four floats as one value: the compiler maps these onto vector registers whatever the
// optimisation level, and each lane computes exactly what the scalar code would.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));

inline Float4 load4(const float* p) noexcept {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store4(float* p, Float4 v) noexcept { std::memcpy(p, &v, sizeof v); }

inline Float4 abs4(Float4 v) noexcept {
    Int4 bits;
    std::memcpy(&bits, &v, sizeof v);
    bits &= 0x7FFFFFFF;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline Float4 max4(Float4 a, Float4 b) noexcept { return a < b ? b : a; }

// dst[i] = g × src[i] for n samples.
void scale(const float* __restrict src, float* __restrict dst, size_t n, float g) noexcept {
    const Float4 gv = {g, g, g, g};
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        store4(dst + i, gv * load4(src + i));
        store4(dst + i + 4, gv * load4(src + i + 4));
    }
    for (; i < n; ++i) dst[i] = g * src[i];
}

struct Shape {
    size_t ds, ss, frames;
};

inline Shape shapeOf(uint32_t sc, size_t sn, uint32_t dc, size_t dn) noexcept {
    const size_t ds = std::max<uint32_t>(dc, 1), ss = std::max<uint32_t>(sc, 1);
    return {ds, ss, std::min(dn / ds, sn / ss)};
}

// One frame of the copy at gain g. Inlined into the loops below.
inline void writeFrame(const float* __restrict s, float* __restrict d, size_t ss, uint32_t sc, size_t width,
                       float g) noexcept {
    if (ss == width) {
        for (size_t j = 0; j < width; ++j) d[j] = g * s[j];
    } else if (width != 1) {
        for (size_t j = 0; j < width; ++j) d[j] = j < ss ? g * s[j] : (sc > 1 ? 0.0f : g * s[0]);
    } else {
        float sum = 0.0f;
        for (size_t j = 0; j < ss; ++j) sum += s[j];
        d[0] = g * (sum / static_cast<float>(ss));
    }
}

// Constant gain: the update g += k × (target − g) leaves g unchanged when g equals target.
void mixSteady(const float* __restrict src, float* __restrict dst, const Shape& sh, uint32_t sc, size_t start,
               size_t width, float g) noexcept {
    const size_t ds = sh.ds, ss = sh.ss, frames = sh.frames;
    if (start == 0 && ss == width && ds == width) { // whole frames on both sides: one flat loop
        scale(src, dst, frames * width, g);
        return;
    }
    if (ss == width && ss == 2) {
        for (size_t f = 0; f < frames; ++f) {
            dst[f * ds + start] = g * src[2 * f];
            dst[f * ds + start + 1] = g * src[2 * f + 1];
        }
        return;
    }
    for (size_t f = 0; f < frames; ++f) writeFrame(src + f * ss, dst + f * ds + start, ss, sc, width, g);
}

float mixRamp(const float* __restrict src, float* __restrict dst, const Shape& sh, uint32_t sc, size_t start,
              size_t width, float g, float target, float k) noexcept {
    const size_t ds = sh.ds, ss = sh.ss, frames = sh.frames;
    if (ss == width && ss == 2) {
        for (size_t f = 0; f < frames; ++f) {
            g = g + k * (target - g);
            dst[f * ds + start] = g * src[2 * f];
            dst[f * ds + start + 1] = g * src[2 * f + 1];
        }
        return g;
    }
    for (size_t f = 0; f < frames; ++f) {
        g = g + k * (target - g);
        writeFrame(src + f * ss, dst + f * ds + start, ss, sc, width, g);
    }
    return g;
}

} // namespace

float mix(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start, int width,
          float gain, float target, float k) noexcept {
    const Shape sh = shapeOf(sc, sn, dc, dn);
    if (sh.frames == 0) return settledGain(gain, target, k);
    const auto st = static_cast<size_t>(start), w = static_cast<size_t>(width);
    if (gain == target) {
        mixSteady(source, destination, sh, sc, st, w, gain);
        return target;
    }
    return settledGain(mixRamp(source, destination, sh, sc, st, w, gain, target, k), target, k);
}

float mixReference(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start,
                   int width, float g, float target, float k) noexcept {
    const size_t ds = std::max<uint32_t>(dc, 1), ss = std::max<uint32_t>(sc, 1);
    const size_t frames = std::min(dn / ds, sn / ss);
    const auto w = static_cast<size_t>(width);
    for (size_t f = 0; f < frames; ++f) {
        g = g + k * (target - g);
        const size_t d = f * ds + static_cast<size_t>(start), s = f * ss;
        if (ss == w) {
            for (size_t j = 0; j < w; ++j) destination[d + j] = g * source[s + j];
        } else if (w != 1) {
            for (size_t j = 0; j < w; ++j) {
                if (j < ss)
                    destination[d + j] = g * source[s + j];
                else
                    destination[d + j] = sc > 1 ? 0.0f : g * source[s];
            }
        } else {
            float sum = 0.0f;
            for (size_t j = 0; j < ss; ++j) sum += source[s + j];
            destination[d] = g * (sum / static_cast<float>(ss));
        }
    }
    return settledGain(g, target, k);
}

float peakOf(const float* samples, size_t n) noexcept {
    Float4 a = {0, 0, 0, 0}, b = a;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        a = max4(a, abs4(load4(samples + i)));
        b = max4(b, abs4(load4(samples + i + 4)));
    }
    a = max4(a, b);
    float peak = std::max(std::max(a[0], a[1]), std::max(a[2], a[3]));
    for (; i < n; ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

float bufferPeak(const AudioBuffer& buffer) noexcept {
    if (!buffer.data) return -1.0f;
    return peakOf(static_cast<const float*>(buffer.data), buffer.dataByteSize / 4);
}

} // namespace orevant
