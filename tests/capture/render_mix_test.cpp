#include "capture/render_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orevant {
namespace {

TEST(RenderMix, SliceStaysInsideTheBufferAndIsNeverEmpty) {
    EXPECT_EQ(slice(0, 2, 8), (ChannelSlice{0, 2}));
    EXPECT_EQ(slice(2, 2, 4), (ChannelSlice{2, 2}));
    EXPECT_EQ(slice(6, 4, 8), (ChannelSlice{6, 2}));  // clipped at the end
    EXPECT_EQ(slice(9, 2, 8), (ChannelSlice{7, 1}));  // offset past the end: last channel
    EXPECT_EQ(slice(-3, 2, 8), (ChannelSlice{0, 2})); // negative offset: channel 0
    EXPECT_EQ(slice(0, 0, 8), (ChannelSlice{0, 1}));  // zero width counts as one
    EXPECT_EQ(slice(1, 2, 0), (ChannelSlice{0, 1}));  // no channels counts as one
}

TEST(RenderMix, GainLawCubesTheClampedControl) {
    EXPECT_FLOAT_EQ(gainForControl(0.5f), 0.125f);
    EXPECT_FLOAT_EQ(gainForControl(1.7f), 1.0f);
    EXPECT_FLOAT_EQ(gainForControl(-0.2f), 0.0f);
    EXPECT_FLOAT_EQ(gainForControl(std::nanf("")), 0.0f);
}

TEST(RenderMix, RampCoefficientIsAThirtyMillisecondOnePole) {
    EXPECT_NEAR(rampCoefficient(48000.0), 0.000694, 0.0000005);
    EXPECT_GT(rampCoefficient(44100.0), rampCoefficient(48000.0));

    // From 0 towards 1: 63 % of the step after 30 ms of frames, 95 % after about 90 ms.
    const float k = rampCoefficient(48000.0);
    std::vector<float> src(2 * 1440, 1.0f), dst(2 * 1440);
    float g = mix(src.data(), 2, src.size(), dst.data(), 2, dst.size(), 0, 2, 0.0f, 1.0f, k);
    EXPECT_NEAR(g, 1.0f - std::exp(-1.0f), 0.001f);
    EXPECT_FLOAT_EQ(dst.back(), g); // the gain is advanced before each frame is written
    std::vector<float> more(2 * 2880), out(2 * 2880);
    std::fill(more.begin(), more.end(), 1.0f);
    g = mix(more.data(), 2, more.size(), out.data(), 2, out.size(), 0, 2, g, 1.0f, k);
    EXPECT_NEAR(g, 0.95f, 0.001f);

    // Eventually it lands exactly on the target and stays there.
    std::vector<float> longSrc(2 * 48000, 1.0f), longDst(2 * 48000);
    g = mix(longSrc.data(), 2, longSrc.size(), longDst.data(), 2, longDst.size(), 0, 2, g, 1.0f, k);
    EXPECT_EQ(g, 1.0f);
}

TEST(RenderMix, SnapsOntoTargetWithinOneMillionth) {
    std::vector<float> src(2, 1.0f), dst(2);
    const float k = rampCoefficient(48000.0);
    EXPECT_EQ(mix(src.data(), 2, 2, dst.data(), 2, 2, 0, 2, 0.5f + 5e-7f, 0.5f, 0.0f), 0.5f);
    EXPECT_EQ(mix(src.data(), 2, 2, dst.data(), 2, 2, 0, 2, 0.5f + 5e-6f, 0.5f, 0.0f), 0.5f + 5e-6f);
    // No whole frame: nothing written, but the snap still applies.
    EXPECT_EQ(mix(src.data(), 2, 1, dst.data(), 2, 2, 0, 2, 0.3f + 1e-7f, 0.3f, k), 0.3f);
    EXPECT_EQ(mix(src.data(), 2, 1, dst.data(), 2, 2, 0, 2, 0.2f, 0.3f, k), 0.2f);

    // Towards 0 the ramp decays geometrically and snaps once within 1e-6.
    std::vector<float> ones(2 * 48000, 1.0f), out(2 * 48000);
    float g = mix(ones.data(), 2, ones.size(), out.data(), 2, out.size(), 0, 2, 1.0f, 0.0f, k);
    EXPECT_EQ(g, 0.0f);
    // Towards 0.125 the single-precision step stalls about 5e-6 short; it lands on the target.
    g = mix(ones.data(), 2, ones.size(), out.data(), 2, out.size(), 0, 2, 0.0f, 0.125f, k);
    EXPECT_EQ(g, 0.125f);
    // Far from the target nothing is snapped.
    g = mix(ones.data(), 2, 20, out.data(), 2, 20, 0, 2, 0.0f, 0.125f, k);
    EXPECT_GT(g, 0.0f);
    EXPECT_LT(g, 0.001f);
}

TEST(RenderMix, ChannelMapping) {
    // Stereo source: L = 0.2, R = 0.6 in every frame.
    std::vector<float> stereo;
    for (int f = 0; f < 4; ++f) stereo.insert(stereo.end(), {0.2f, 0.6f});

    std::vector<float> two(8, -1.0f);
    mix(stereo.data(), 2, 8, two.data(), 2, 8, 0, 2, 1.0f, 1.0f, 0.1f);
    EXPECT_EQ(two, stereo); // channel for channel

    std::vector<float> one(4, -1.0f);
    mix(stereo.data(), 2, 8, one.data(), 1, 4, 0, 1, 1.0f, 1.0f, 0.1f);
    for (float v : one) EXPECT_FLOAT_EQ(v, 0.4f); // average of L and R

    std::vector<float> six(24, -1.0f);
    mix(stereo.data(), 2, 8, six.data(), 6, 24, 0, 6, 1.0f, 1.0f, 0.1f);
    for (int f = 0; f < 4; ++f) {
        EXPECT_FLOAT_EQ(six[f * 6 + 0], 0.2f);
        EXPECT_FLOAT_EQ(six[f * 6 + 1], 0.6f);
        for (int c = 2; c < 6; ++c) EXPECT_EQ(six[f * 6 + c], 0.0f); // extra channels silent
    }

    std::vector<float> mono{0.3f, 0.3f, 0.3f, 0.3f};
    std::vector<float> sixFromMono(24, -1.0f);
    mix(mono.data(), 1, 4, sixFromMono.data(), 6, 24, 0, 6, 0.5f, 0.5f, 0.1f);
    for (float v : sixFromMono) EXPECT_FLOAT_EQ(v, 0.15f); // mono fills every channel

    // A slice in the middle of an 8-channel frame touches only its own channels.
    std::vector<float> eight(32, -1.0f);
    mix(stereo.data(), 2, 8, eight.data(), 8, 32, 4, 2, 1.0f, 1.0f, 0.1f);
    for (int f = 0; f < 4; ++f)
        for (int c = 0; c < 8; ++c) {
            const float want = c == 4 ? 0.2f : c == 5 ? 0.6f : -1.0f;
            EXPECT_FLOAT_EQ(eight[f * 8 + c], want) << "frame " << f << " channel " << c;
        }

    // Frames are limited by the shorter side.
    std::vector<float> longOut(20, -1.0f);
    mix(stereo.data(), 2, 8, longOut.data(), 2, 20, 0, 2, 1.0f, 1.0f, 0.1f);
    EXPECT_EQ(longOut[7], 0.6f);
    EXPECT_EQ(longOut[8], -1.0f);
}

TEST(RenderMix, BufferPeak) {
    float data[] = {0.1f, -0.7f, 0.3f, 0.9f};
    EXPECT_FLOAT_EQ(bufferPeak(AudioBuffer{2, 12, data}), 0.7f); // byte size limits the samples read
    EXPECT_FLOAT_EQ(bufferPeak(AudioBuffer{2, 16, data}), 0.9f);
    EXPECT_EQ(bufferPeak(AudioBuffer{2, 0, data}), 0.0f);
    EXPECT_EQ(bufferPeak(AudioBuffer{2, 16, nullptr}), -1.0f);
}

} // namespace
} // namespace orevant
