#pragma once
// The building blocks of the render path: channel slices, the ramped gain copy, buffer peaks and
// the one-pole ramp coefficient. Pure functions on any thread; none allocates or blocks.
//
// mix() is the fast version, on the kernels of render_kernels.h: the ramp is taken in closed form a
// block of frames at a time, the same curve as the per-frame recurrence within 1e-5.
// mixReference() is the plain per-frame transcription the fast version is tested against.
#include "capture/render_kernels.h"
#include "platform/audio_types.h"

#include <cstddef>
#include <cstdint>

namespace orevant {

// Gains within this distance of their target snap onto it.
inline constexpr float kGainSnap = 1e-6f;

// The channels [start, start + count) of an interleaved buffer of `channels` channels that a bus
// at `offset` of `width` channels occupies. Never leaves the buffer and never has zero width.
ChannelSlice slice(int offset, int width, int channels) noexcept;

// x limited to 0…1 (NaN counts as 0), then cubed: the gain of a 0…1 control value.
float gainForControl(float value) noexcept;
float clampControl(float value) noexcept;

// The one-pole smoothing factor per frame for a 30 ms time constant at `sampleRate`, computed in
// single precision: 1 − e^(−1 ÷ (rate × 0.03)).
float rampCoefficient(double sampleRate) noexcept;

// Copies `source` (sc interleaved channels, sn samples) into the channels [start, start + width)
// of `destination` (dc channels, dn samples), frame by frame, advancing the gain one step towards
// `target` before each frame: g += k × (target − g). A source with as many channels as the slice
// is copied channel for channel; a mono source fills every channel of the slice; a multichannel
// source leaves slice channels beyond its own silent; a one-channel slice gets the average of the
// source's channels. Returns settledGain of the final gain. Channels outside the slice are left
// as they are.
float mix(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start, int width,
          float gain, float target, const RampTable& ramp) noexcept;
// The same with the table of powers made for this one call.
float mix(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start, int width,
          float gain, float target, float k) noexcept;
float mixReference(const float* source, uint32_t sc, size_t sn, float* destination, uint32_t dc, size_t dn, int start,
                   int width, float gain, float target, float k) noexcept;

// The gain the per-frame ramp ends a block with: `target` when within kGainSnap of it or when one
// more step would not change `g` (the ramp has stalled short of the target in single precision);
// else g. (The block-wise ramp of mix() lands no later than this.)
float settledGain(float g, float target, float k) noexcept;

// The largest absolute value of n samples (0 when n is 0). NaNs are passed over.
float peakOf(const float* samples, size_t n) noexcept;

// −1 when the buffer has no data; else the largest absolute sample (0 when empty).
float bufferPeak(const AudioBuffer& buffer) noexcept;

} // namespace orevant
