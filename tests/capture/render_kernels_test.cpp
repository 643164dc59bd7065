// The kernel sets against the per-frame reference (mixReference, then the MAIN slice metered),
// and against each other; the block-wise ramp against the exact one-pole curve. Denormals are
// flushed here as render() flushes them.
#include "capture/denormal_guard.h"
#include "capture/render_kernels.h"
#include "capture/render_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace orevant {
namespace {

std::vector<const RenderKernels*> kernelSets() {
    std::vector<const RenderKernels*> sets{&portableRenderKernels()};
    if (const RenderKernels* wide = avx2RenderKernels()) sets.push_back(wide);
    return sets;
}

struct Layout {
    uint32_t sc, dc;
    ChannelSlice main;
    bool paired;
    ChannelSlice phones;
    bool silenceOthers;
};

struct Outcome {
    std::vector<float> out;
    float mainGain, phonesGain, peak;
};

// The per-frame transcription: zero (when asked), MAIN, PHONES, then the MAIN slice metered over
// the frames written.
Outcome reference(const Layout& l, const std::vector<float>& src, std::vector<float> out, BusRamp m, BusRamp p,
                  float k) {
    if (l.silenceOthers) std::fill(out.begin(), out.end(), 0.0f);
    Outcome o;
    o.mainGain = mixReference(src.data(), l.sc, src.size(), out.data(), l.dc, out.size(), l.main.start, l.main.count,
                              m.gain, m.target, k);
    o.phonesGain = l.paired ? mixReference(src.data(), l.sc, src.size(), out.data(), l.dc, out.size(), l.phones.start,
                                           l.phones.count, p.gain, p.target, k)
                            : p.gain;
    const size_t ds = std::max<uint32_t>(l.dc, 1);
    const size_t frames = std::min(out.size() / ds, src.size() / std::max<uint32_t>(l.sc, 1));
    o.peak = 0.0f;
    for (size_t f = 0; f < frames; ++f)
        for (int c = 0; c < l.main.count; ++c)
            o.peak = std::max(o.peak, std::fabs(out[f * ds + static_cast<size_t>(l.main.start + c)]));
    o.out = std::move(out);
    return o;
}

Outcome fast(const RenderKernels& kernels, const Layout& l, const std::vector<float>& src, std::vector<float> out,
             BusRamp m, BusRamp p, const RampTable& table) {
    FrameJob job;
    job.source = src.data();
    job.sourceChannels = l.sc;
    job.sourceSamples = src.size();
    job.destination = out.data();
    job.destinationChannels = l.dc;
    job.destinationSamples = out.size();
    job.main = l.main;
    job.mainRamp = &m;
    if (l.paired) {
        job.phones = l.phones;
        job.phonesRamp = &p;
    }
    job.silenceOthers = l.silenceOthers;
    job.meter = true;
    job.ramp = &table;
    const FrameResult r = kernels.writeFrames(job);
    return {std::move(out), m.gain, p.gain, r.peak};
}

TEST(RenderKernels, MatchTheReferenceOverEveryLayoutRampAndInput) {
    const DenormalGuard flushed;
    const float k = rampCoefficient(48000.0);
    const RampTable table = RampTable::forCoefficient(k);
    const Layout layouts[] = {
        {2, 2, {0, 2}, false, {}, true},       // stereo to stereo: the flat kernel
        {1, 1, {0, 1}, false, {}, true},       // mono to mono
        {6, 6, {0, 6}, false, {}, true},       // six to six, frame by frame
        {2, 8, {0, 8}, false, {}, true},       // stereo onto an 8-channel output, 2–7 silent
        {1, 6, {0, 6}, false, {}, true},       // mono fills all six
        {1, 8, {0, 8}, false, {}, true},       // mono fills all eight, whole vectors
        {2, 8, {0, 2}, true, {2, 2}, true},    // paired buses
        {2, 8, {2, 2}, true, {5, 2}, true},    // paired, PHONES at an odd offset
        {2, 4, {2, 2}, true, {0, 2}, true},    // paired on four channels, PHONES first
        {2, 20, {16, 2}, true, {18, 2}, true}, // paired on twenty channels
        {2, 8, {2, 2}, false, {}, false},      // one slice, the other channels left alone
        {2, 1, {0, 1}, false, {}, true},       // average into mono
        {6, 2, {0, 2}, false, {}, true},       // six into two: the first two
        {2, 8, {0, 3}, true, {2, 2}, true},    // overlapping slices: PHONES wins channel 2
        {0, 2, {0, 2}, false, {}, false},      // no channel count: one channel
        {2, 4, {1, 3}, false, {}, false},      // a wide slice off the frame start
    };
    struct Ramp {
        float g0, target;
    };
    const Ramp ramps[] = {{0.0f, 1.0f}, {0.9f, 0.125f}, {0.125f, 0.125f}, {1.0f, 0.0f}, {0.3f, 0.3f}};
    enum class Input { uniform, negative, denormal, nonFinite };
    std::mt19937 rng(7);
    for (const RenderKernels* kernels : kernelSets())
        for (const Layout& l : layouts)
            for (const Ramp& r : ramps)
                for (Input input : {Input::uniform, Input::negative, Input::denormal, Input::nonFinite}) {
                    SCOPED_TRACE(testing::Message()
                                 << kernels->name << " " << l.sc << "->" << l.dc << " main " << l.main.start << " g0 "
                                 << r.g0 << " target " << r.target << " input " << static_cast<int>(input));
                    const size_t frames = 300 + (rng() % 20); // not a whole number of blocks
                    std::vector<float> src(frames * std::max<uint32_t>(l.sc, 1));
                    std::uniform_real_distribution<float> value(input == Input::negative ? -1.0f : -0.5f,
                                                                input == Input::negative ? 0.1f : 0.5f);
                    for (float& v : src) v = input == Input::denormal ? value(rng) * 1e-39f : value(rng);
                    if (input == Input::nonFinite) { // a broken application: silent channels stay silent
                        src[5] = std::nanf("");
                        src[src.size() / 2] = INFINITY;
                        src[src.size() - 1] = -INFINITY;
                    }
                    std::vector<float> out(frames * std::max<uint32_t>(l.dc, 1) + 3, 9.0f); // a partial frame too
                    const BusRamp m{r.g0, r.target}, p{r.target, r.g0};
                    const Outcome want = reference(l, src, out, m, p, k);
                    const Outcome got = fast(*kernels, l, src, out, m, p, table);
                    ASSERT_EQ(got.out.size(), want.out.size());
                    const bool steady = r.g0 == r.target;
                    for (size_t i = 0; i < want.out.size(); ++i) {
                        if (!std::isfinite(want.out[i])) {
                            ASSERT_TRUE(std::isnan(want.out[i]) ? std::isnan(got.out[i]) : got.out[i] == want.out[i])
                                << "sample " << i << " " << got.out[i];
                        } else if (steady) { // a steady gain is exact
                            ASSERT_EQ(got.out[i], want.out[i]) << "sample " << i;
                        } else {
                            ASSERT_NEAR(got.out[i], want.out[i], 1e-5f) << "sample " << i;
                        }
                    }
                    EXPECT_NEAR(got.mainGain, want.mainGain, 1e-5f);
                    EXPECT_NEAR(got.phonesGain, want.phonesGain, 1e-5f);
                    if (std::isinf(want.peak))
                        EXPECT_EQ(got.peak, want.peak);
                    else
                        EXPECT_NEAR(got.peak, want.peak, steady ? 0.0f : 1e-5f);
                    EXPECT_TRUE(input != Input::denormal || got.peak == 0.0f); // denormals read as zero

                    // The sets compute the same values bit for bit.
                    const Outcome portable = fast(portableRenderKernels(), l, src, out, m, p, table);
                    EXPECT_EQ(std::memcmp(got.out.data(), portable.out.data(), got.out.size() * sizeof(float)), 0);
                    EXPECT_EQ(got.mainGain, portable.mainGain);
                    EXPECT_EQ(got.peak, portable.peak);
                }
}

TEST(RenderKernels, RampFollowsTheExactCurveAndLandsNoLaterThanTheRecurrence) {
    const DenormalGuard flushed;
    struct Case {
        double rate;
        float g0, target;
    };
    // Above, below and at the target; targets near 1 (where the recurrence stalls), small ones
    // (where the 1e-6 snap decides) and 0.
    const Case cases[] = {{48000, 0.0f, 1.0f},        {48000, 1.0f, 0.125f},      {48000, 0.0851f, 1.0f},
                          {48000, 0.4403f, 0.00204f}, {96000, 0.4403f, 0.00204f}, {44100, 0.9139f, 0.4173f},
                          {48000, 0.7f, 0.0f},        {192000, 0.2044f, 0.4434f}, {48000, 0.5f, 0.5f}};
    constexpr size_t kFrames = 512;
    const std::vector<float> ones(2 * kFrames, 1.0f);
    for (const RenderKernels* kernels : kernelSets())
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << kernels->name << " rate " << c.rate << " from " << c.g0 << " to " << c.target);
            const float k = rampCoefficient(c.rate);
            const RampTable table = RampTable::forCoefficient(k);
            const Layout stereo{2, 2, {0, 2}, false, {}, false};
            std::vector<float> out(2 * kFrames), serialOut(2 * kFrames);
            BusRamp bus{c.g0, c.target};
            float serial = c.g0;
            int landed = -1, serialLanded = -1;
            for (int cycle = 0; cycle < 2000 && (landed < 0 || serialLanded < 0); ++cycle) {
                if (landed < 0) {
                    const Outcome o = fast(*kernels, stereo, ones, out, bus, bus, table);
                    out = o.out;
                    bus.gain = o.mainGain;
                    for (size_t f = 0; f < kFrames; ++f) {
                        const double exact =
                            c.target + (static_cast<double>(c.g0) - c.target) *
                                           std::pow(1.0 - static_cast<double>(k), double(cycle) * kFrames + f + 1);
                        ASSERT_NEAR(out[2 * f], exact, 1e-5) << "cycle " << cycle << " frame " << f;
                        ASSERT_EQ(out[2 * f + 1], out[2 * f]);
                    }
                    if (bus.gain == c.target) landed = cycle;
                }
                if (serialLanded < 0) {
                    serial = mixReference(ones.data(), 2, ones.size(), serialOut.data(), 2, serialOut.size(), 0, 2,
                                          serial, c.target, k);
                    if (serial == c.target) serialLanded = cycle;
                }
            }
            ASSERT_GE(serialLanded, 0);
            EXPECT_GE(landed, 0);
            EXPECT_LE(landed, serialLanded);
        }
}

} // namespace
} // namespace orevant
