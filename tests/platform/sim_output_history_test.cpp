#include "platform/sim/sim_output_history.h"

#include <gtest/gtest.h>

#include <numeric>

namespace orevant {
namespace {

// Stereo frames whose left sample is the frame's number and right its negative.
std::vector<float> frames(size_t first, size_t count) {
    std::vector<float> out;
    for (size_t f = first; f < first + count; ++f) out.insert(out.end(), {float(f), -float(f)});
    return out;
}

std::vector<float> numbers(size_t first, size_t count, float sign = 1.0f) {
    std::vector<float> out(count);
    std::iota(out.begin(), out.end(), float(first));
    for (float& v : out) v *= sign;
    return out;
}

TEST(SimOutputHistory, KeepsTheNewestFramesInOrderAcrossTheWrap) {
    SimOutputHistory h;
    h.reset(2, 10);
    std::vector<float> in = frames(0, 4);
    h.append(in.data(), 4);
    EXPECT_EQ(h.frameCount(), 4u);
    EXPECT_EQ(h.channel(0), numbers(0, 4));

    in = frames(4, 9); // 13 frames in all: the ring wraps
    h.append(in.data(), 9);
    EXPECT_EQ(h.frameCount(), 10u);
    EXPECT_EQ(h.channel(0), numbers(3, 10));
    EXPECT_EQ(h.channel(1, 3), numbers(10, 3, -1.0f));
    EXPECT_EQ(h.channel(0, 50), numbers(3, 10)); // asking for more gives what is kept
    EXPECT_TRUE(h.channel(2).empty());           // no such channel

    in = frames(13, 25); // longer than the ring: only its newest frames stay
    h.append(in.data(), 25);
    EXPECT_EQ(h.channel(0), numbers(28, 10));

    h.clear();
    EXPECT_EQ(h.frameCount(), 0u);
    EXPECT_TRUE(h.channel(0).empty());

    h.reset(2, 0); // keeping nothing
    h.append(in.data(), 25);
    EXPECT_EQ(h.frameCount(), 0u);
    EXPECT_TRUE(h.channel(0).empty());
}

} // namespace
} // namespace orevant
