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

float settledGain(float g, float target, float k) noexcept {
    if (std::fabs(g - target) < kGainSnap) return target;
    // In single precision the step k × (target − g) falls below half a unit in the last place of
    // g some way short of the target (about 4e-5 below a target of 1 at 48 kHz), and the ramp
    // would hang there forever. Once a step no longer moves the gain it lands on the target.
    if (k > 0.0f && g + k * (target - g) == g) return target;
    return g;
}

float mix(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start, int width,
          float gain, float target, const RampTable& ramp) noexcept {
    // A slice that does not lie inside the frame is copied as written, frame by frame.
    if (start < 0 || width < 1 || static_cast<size_t>(start) + static_cast<size_t>(width) > std::max<uint32_t>(dc, 1))
        return mixReference(source, sc, sn, destination, dc, dn, start, width, gain, target, ramp.k);
    BusRamp bus{gain, target};
    FrameJob job;
    job.source = source;
    job.sourceChannels = sc;
    job.sourceSamples = sn;
    job.destination = destination;
    job.destinationChannels = dc;
    job.destinationSamples = dn;
    job.main = {start, width};
    job.mainRamp = &bus;
    job.silenceOthers = false;
    job.ramp = &ramp;
    renderKernels().writeFrames(job);
    return bus.gain;
}

float mix(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start, int width,
          float gain, float target, float k) noexcept {
    const RampTable ramp = RampTable::forCoefficient(k);
    return mix(source, sc, sn, destination, dc, dn, start, width, gain, target, ramp);
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

float peakOf(const float* samples, size_t n) noexcept { return renderKernels().peak(samples, n); }
float bufferPeak(const AudioBuffer& buffer) noexcept {
    if (!buffer.data) return -1.0f;
    return peakOf(static_cast<const float*>(buffer.data), buffer.dataByteSize / 4);
}

} // namespace orevant
