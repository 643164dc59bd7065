#include "capture/render_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace orevant {
namespace {

TEST(RenderMix, SliceStaysInsideTheBufferAndIsNeverEmpty) {
    EXPECT_EQ(slice(0, 2, 8), (ChannelSlice{0, 2}));
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

TEST(RenderMix, RampIsAThirtyMillisecondOnePoleAdvancedBeforeEachFrame) {
    EXPECT_GT(rampCoefficient(44100.0), rampCoefficient(48000.0));
    // From 0 towards 1: 63 % of the step after 30 ms of frames.
    const float k = rampCoefficient(48000.0);
    std::vector<float> src(2 * 1440, 1.0f), dst(2 * 1440);
    const float g = mix(src.data(), 2, src.size(), dst.data(), 2, dst.size(), 0, 2, 0.0f, 1.0f, k);
    EXPECT_NEAR(g, 1.0f - std::exp(-1.0f), 0.001f);
    EXPECT_FLOAT_EQ(dst.back(), g);
}

TEST(RenderMix, SnapsOntoTargetWithinOneMillionthOrWhereTheStepStalls) {
    std::vector<float> src(2, 1.0f), dst(2);
    const float k = rampCoefficient(48000.0);
    EXPECT_EQ(mix(src.data(), 2, 2, dst.data(), 2, 2, 0, 2, 0.5f + 5e-7f, 0.5f, 0.0f), 0.5f);
    EXPECT_EQ(mix(src.data(), 2, 2, dst.data(), 2, 2, 0, 2, 0.5f + 5e-6f, 0.5f, 0.0f), 0.5f + 5e-6f);
    // No whole frame: nothing written, but the snap still applies.
    EXPECT_EQ(mix(src.data(), 2, 1, dst.data(), 2, 2, 0, 2, 0.3f + 1e-7f, 0.3f, k), 0.3f);
    EXPECT_EQ(mix(src.data(), 2, 1, dst.data(), 2, 2, 0, 2, 0.2f, 0.3f, k), 0.2f);

    // Towards 0 the ramp decays geometrically and snaps; towards 0.125 the single-precision step
    // stalls about 5e-6 short and lands on the target; far from it nothing is snapped.
    std::vector<float> ones(2 * 48000, 1.0f), out(2 * 48000);
    EXPECT_EQ(mix(ones.data(), 2, ones.size(), out.data(), 2, out.size(), 0, 2, 1.0f, 0.0f, k), 0.0f);
    EXPECT_EQ(mix(ones.data(), 2, ones.size(), out.data(), 2, out.size(), 0, 2, 0.0f, 0.125f, k), 0.125f);
    const float g = mix(ones.data(), 2, 20, out.data(), 2, 20, 0, 2, 0.0f, 0.125f, k);
    EXPECT_GT(g, 0.0f);
    EXPECT_LT(g, 0.001f);
}

TEST(RenderMix, ChannelMapping) {
    // Four frames of a stereo source (L 0.2, R 0.6) or a mono one (0.3), at gain 1, into a
    // destination prefilled with -1: one frame of the result.
    struct Case {
        const char* name;
        uint32_t sc, dc;
        int start, width;
        std::vector<float> frame;
    };
    const Case cases[] = {
        {"channel for channel", 2, 2, 0, 2, {0.2f, 0.6f}},
        {"one channel: the average", 2, 1, 0, 1, {0.4f}},
        {"extra channels silent", 2, 6, 0, 6, {0.2f, 0.6f, 0, 0, 0, 0}},
        {"mono fills every channel", 1, 6, 0, 6, {0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f}},
        {"a slice touches only its own channels", 2, 8, 4, 2, {-1, -1, -1, -1, 0.2f, 0.6f, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> src;
        for (int f = 0; f < 4; ++f) {
            if (c.sc == 1)
                src.push_back(0.3f);
            else
                src.insert(src.end(), {0.2f, 0.6f});
        }
        std::vector<float> dst(4 * c.dc, -1.0f);
        mix(src.data(), c.sc, src.size(), dst.data(), c.dc, dst.size(), c.start, c.width, 1.0f, 1.0f, 0.1f);
        for (size_t f = 0; f < 4; ++f)
            for (size_t ch = 0; ch < c.dc; ++ch) EXPECT_FLOAT_EQ(dst[f * c.dc + ch], c.frame[ch]) << f << "/" << ch;
    }
    // Frames are limited by the shorter side.
    const std::vector<float> stereo{0.2f, 0.6f, 0.2f, 0.6f};
    std::vector<float> longOut(8, -1.0f);
    mix(stereo.data(), 2, 4, longOut.data(), 2, 8, 0, 2, 1.0f, 1.0f, 0.1f);
    EXPECT_EQ(longOut[3], 0.6f);
    EXPECT_EQ(longOut[4], -1.0f);
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
