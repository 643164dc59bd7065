// The render body driven directly with hand-made buffers, on a started tap (the simulated server
// runs no cycle unless asked, so these calls are the only ones). How samples are mixed is the
// kernels' own test; these are the tap's rules around them.
#include "capture/process_tap.h"
#include "capture_fixture.h"
#include "platform/capture_log_sink.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::Buffers;
using test::FakeLane;

constexpr size_t kFrames = 512;
constexpr int kSettle = 94; // cycles of 512 frames in a second: past any ramp

class RenderTest : public test::SimFixture {
protected:
    // Renders `cycles` cycles of a constant stereo tap stream (L 0.5, R -0.25) into one buffer of
    // `channels` channels; returns that buffer's last cycle.
    static Buffers cycle(ProcessTap& tap, uint32_t channels, int cycles = 1) {
        Buffers in, outBufs;
        in.addStereo(kFrames, 0.5f, -0.25f);
        outBufs.add(channels, kFrames, 7.0f);
        for (int i = 0; i < cycles; ++i) tap.render(in.list(), outBufs.list());
        return outBufs;
    }
};

TEST_F(RenderTest, UnpairedMuteCutsAtOnceKeepsTheRampedGainAndThePeakIsTakenOnce) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(speakers)});
    EXPECT_FLOAT_EQ(cycle(tap, 2).at(0, kFrames - 1, 1), -0.25f * 0.125f);
    EXPECT_FLOAT_EQ(tap.takePeak(), 0.0625f);
    EXPECT_EQ(tap.takePeak(), 0.0f) << "the peak is taken once";

    // Muted part way down a ramp: silent at once, the gain held for the unmute.
    tap.setVolume(1.0f);
    cycle(tap, 2, kSettle);
    tap.setVolume(0.0f);
    cycle(tap, 2, 2); // part way down the ramp
    const float held = tap.currentGain();
    ASSERT_GT(held, 0.1f);
    ASSERT_LT(held, 1.0f);
    (void)tap.takePeak();

    tap.setMuted(true);
    Buffers muted = cycle(tap, 2);
    for (float v : muted.samples(0)) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(tap.currentGain(), held);
    EXPECT_EQ(tap.peak(), 0.0f); // nothing metered while muted

    tap.setMuted(false);
    EXPECT_NEAR(cycle(tap, 2).at(0, 0, 0), 0.5f * held, 0.5f * held * 0.001f);
}

TEST_F(RenderTest, PairedPhonesFollowTheirModeAndRampToItAndANarrowOutputFallsBack) {
    // MAIN at 0.125 (volume 0.5) on channels 0–1, PHONES on 2–3 at bus gain 0.5, cue level 1.
    struct Case {
        PhonesMode mode;
        float phones; // settled PHONES sample for L 0.5
    };
    const Case cases[] = {
        {PhonesMode::sameAsMain, 0.0625f * 0.5f},
        {PhonesMode::cue, 0.5f * 0.5f},
        {PhonesMode::silent, 0.0f},
        {static_cast<PhonesMode>(7), 0.0625f * 0.5f}, // outside the enumeration: as sameAsMain
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
        tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
        ASSERT_TRUE(tap.pairedBuses());
        tap.setPhonesBusGain(0.5f);
        tap.setPhonesMode(PhonesMode::cue);
        const float from = cycle(tap, 8, kSettle).at(0, 0, 2);
        tap.setPhonesMode(c.mode);
        const float first = cycle(tap, 8).at(0, kFrames - 1, 2);
        if (c.phones != from) { // a ramp, not a cut
            EXPECT_GT(std::fabs(first - c.phones), 1e-4f);
            EXPECT_GT(std::fabs(first - from), 1e-4f);
        }
        Buffers settled = cycle(tap, 8, kSettle);
        EXPECT_FLOAT_EQ(settled.at(0, 9, 0), 0.0625f);
        EXPECT_FLOAT_EQ(settled.at(0, 9, 1), -0.03125f);
        EXPECT_FLOAT_EQ(settled.at(0, 9, 2), c.phones);
        for (size_t ch = 4; ch < 8; ++ch) EXPECT_EQ(settled.at(0, 9, ch), 0.0f);
        EXPECT_FLOAT_EQ(tap.takePeak(), 0.0625f); // the meter takes MAIN only
        EXPECT_FALSE(tap.shapeLogged());          // the paired path captures no diagnostics
        EXPECT_FLOAT_EQ(cycle(tap, 2).at(0, 0, 1), -0.03125f) << "too narrow for the pairing: the general path";
    }
}

TEST_F(RenderTest, PairedMutedApplicationKeepsItsCueOnlyInCueMode) {
    ProcessTap tap(server, {process}, 1.0f, false, 0.5f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    tap.setPhonesMode(PhonesMode::cue);
    cycle(tap, 4, kSettle);
    tap.setMuted(true);
    EXPECT_GT(cycle(tap, 4).at(0, kFrames - 1, 0), 0.0f); // MAIN ramps, no cut
    Buffers settled = cycle(tap, 4, kSettle);
    EXPECT_EQ(settled.at(0, 7, 0), 0.0f);
    EXPECT_FLOAT_EQ(settled.at(0, 7, 2), 0.5f * 0.125f); // cue level survives the mute
    tap.setPhonesMode(PhonesMode::sameAsMain);
    EXPECT_EQ(cycle(tap, 4, kSettle).at(0, 7, 2), 0.0f);
}

TEST_F(RenderTest, PanicRampsBothBusesDownAndBackUp) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    ProcessTap plain(server, {process}, 1.0f, false, 1.0f);
    plain.start({out(speakers)});
    for (ProcessTap* t : {&tap, &plain}) {
        SCOPED_TRACE(t == &tap ? "paired" : "unpaired");
        const uint32_t channels = t == &tap ? 4 : 2;
        t->setPanicked(true);
        Buffers first = cycle(*t, channels);
        const float last = first.at(0, kFrames - 1, 0);
        EXPECT_GT(last, 0.0f); // a ramp, not a cut
        EXPECT_LT(last, 0.5f);
        EXPECT_FLOAT_EQ(first.at(0, kFrames - 1, channels - 2), last); // both buses alike
        Buffers silent = cycle(*t, channels, kSettle);
        for (float v : silent.samples(0)) ASSERT_EQ(v, 0.0f);
        t->setPanicked(false);
        EXPECT_LT(cycle(*t, channels).at(0, kFrames - 1, 0), 0.5f);
        Buffers back = cycle(*t, channels, kSettle);
        EXPECT_FLOAT_EQ(back.at(0, 0, 0), 0.5f);
        EXPECT_FLOAT_EQ(back.at(0, 0, channels - 2), 0.5f);
    }
}

TEST_F(RenderTest, MissingOrShortBuffersAreSkippedOrSilencedNeverReadPastAndDenormalsFlushed) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    // Null output data is skipped; the others are written.
    Buffers in, outs;
    in.addStereo(kFrames, 0.5f, 0.5f);
    outs.addNull(2, 4096).add(2, kFrames, 7.0f);
    tap.render(in.list(), outs.list());
    EXPECT_FLOAT_EQ(outs.at(1, 0, 0), 0.5f);

    // No tap stream data, or no input at all: silence.
    Buffers nullTap, none;
    nullTap.addNull(2, 4096);
    for (Buffers* input : {&nullTap, &none}) {
        Buffers o;
        o.add(2, kFrames, 7.0f);
        tap.render(input->list(), o.list());
        for (float v : o.samples(0)) ASSERT_EQ(v, 0.0f);
    }

    // A tap stream shorter than the output: the rest of the output is silent.
    Buffers shortIn, o4;
    shortIn.addStereo(100, 0.5f, 0.5f);
    o4.add(2, kFrames, 7.0f);
    tap.render(shortIn.list(), o4.list());
    EXPECT_FLOAT_EQ(o4.at(0, 99, 1), 0.5f);
    EXPECT_EQ(o4.at(0, 100, 0), 0.0f);

    // The tap stream is the last input buffer; the ones before it are not played.
    Buffers withMic, o5;
    withMic.add(1, kFrames, 0.9f).addStereo(kFrames, 0.1f, 0.2f);
    o5.add(2, kFrames);
    tap.render(withMic.list(), o5.list());
    EXPECT_FLOAT_EQ(o5.at(0, 0, 0), 0.1f);

    // Denormals read as zero while render runs; the calling thread keeps gradual underflow.
    Buffers tiny, o6;
    tiny.addStereo(kFrames, 1e-39f, -1e-39f);
    o6.add(2, kFrames, 7.0f);
    tap.render(tiny.list(), o6.list());
    EXPECT_EQ(o6.at(0, 0, 0), 0.0f);
    volatile float small = 1e-38f;
    EXPECT_GT(small / 16.0f, 0.0f);
}

TEST_F(RenderTest, NonFloatStreamsPassThroughUnlessMutedOrPanicked) {
    const AudioObjectID int16 = system.addDevice(test::deviceSpec("int16", 4));
    auto fmt = *server.value<AudioStreamBasicDescription>(int16, sel::streamFormat, scope::output);
    fmt.formatFlags = 0;
    server.setValue(int16, sel::streamFormat, scope::output, fmt);
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(int16)}, ProcessTap::ChannelPairing{0, 2, 2});
    ASSERT_FALSE(tap.isFloat32());

    Buffers in, outs;
    in.addStereo(kFrames, 0.5f, -0.25f);
    outs.add(4, kFrames, 7.0f);
    tap.render(in.list(), outs.list());
    // Bytes copied unchanged, the rest zeroed; no gain, no meter.
    EXPECT_EQ(outs.samples(0)[0], 0.5f);
    EXPECT_EQ(outs.samples(0)[2 * kFrames - 1], -0.25f);
    EXPECT_EQ(outs.samples(0)[2 * kFrames], 0.0f);
    EXPECT_EQ(tap.peak(), 0.0f);

    for (int panicked = 0; panicked < 2; ++panicked) {
        tap.setMuted(!panicked);
        tap.setPanicked(panicked);
        outs.fill(7.0f);
        tap.render(in.list(), outs.list());
        for (float v : outs.samples(0)) ASSERT_EQ(v, 0.0f) << "panicked " << panicked;
    }
}

// The SHAPE and PEAKDIAG lines are the tap's one diagnostic output: captured on the IO thread,
// written by the main queue, each line once, PEAKDIAG at n = 500 … 2500 only.
TEST_F(RenderTest, DiagnosticsLines) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(speakers), out(interface8)});
    ScopedLogCapture logs;
    Buffers in, outs;
    in.add(1, kFrames, 0.3f).addStereo(kFrames, 0.5f, -0.25f);
    outs.add(2, kFrames).add(8, kFrames);
    for (int i = 0; i < 499; ++i) tap.render(in.list(), outs.list());
    tap.logDiagnostics();
    EXPECT_EQ(logs->count("PEAKDIAG"), 0u);
    tap.render(in.list(), outs.list());
    EXPECT_TRUE(logs->messages("ProcessTap").size() == 1u) << "render itself logs nothing";
    tap.logDiagnostics();
    tap.logDiagnostics();
    const std::string shape = "SHAPE out[2]: 2ch/4096B 8ch/16384B | in[2]: 1ch/2048B 2ch/4096B | float32=true";
    const std::string first = "PEAKDIAG n=500 inPeaks=[0.3000 0.5000] outPeaks=[0.0625 0.0625] target=0.125000 "
                              "vol=0.500000 maxTap=0.500000 maxIn0=0.300000";
    EXPECT_EQ(logs->count(shape), 1u);
    EXPECT_EQ(logs->count(first, LogLevel::notice), 1u);

    for (int i = 500; i < 2499; ++i) tap.render(in.list(), outs.list());
    EXPECT_FALSE(tap.diagLogged());
    tap.render(in.list(), outs.list());
    EXPECT_TRUE(tap.diagLogged()) << "the series ends at n = 2500";
    for (int i = 0; i < 600; ++i) tap.render(in.list(), outs.list());
    tap.stop(); // writes what is left
    EXPECT_EQ(logs->count("PEAKDIAG"), 5u);
    EXPECT_EQ(logs->count("PEAKDIAG n=2500 "), 1u);

    // A list of more than sixteen buffers keeps sixteen and counts the rest.
    ProcessTap wide(server, {process}, 1.0f, false, 1.0f);
    wide.start({out(speakers)});
    Buffers few, many;
    few.addStereo(4, 0.1f, 0.1f);
    for (int i = 0; i < 18; ++i) many.add(1, 4);
    wide.render(few.list(), many.list());
    wide.logDiagnostics();
    std::string entries = "1ch/16B";
    for (int i = 1; i < 16; ++i) entries += " 1ch/16B";
    EXPECT_EQ(logs->count("SHAPE out[18]: " + entries + " +2 more | in[1]: 2ch/32B | float32=true"), 1u);
}

TEST_F(RenderTest, RecordingLaneGetsThePostGainMainFromItsPresentFrameAndOutputsShareOneGain) {
    auto lane = std::make_shared<FakeLane>();
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f, lane);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{2, 4, 2});
    lane->arm(1, 1000);
    cycle(tap, 8);
    EXPECT_EQ(lane->writeCount(), 0u) << "not recording to MAIN";

    tap.setRecordsToMain(true);
    cycle(tap, 8, 2);
    ASSERT_EQ(lane->writeCount(), 2u);
    EXPECT_EQ(lane->writeAt(0).atFrame, 1000);
    EXPECT_EQ(lane->writeAt(1).atFrame, 1000 + static_cast<int64_t>(kFrames));
    EXPECT_EQ(lane->writeAt(0).channels, 8u);
    EXPECT_EQ(lane->writeAt(0).channelOffset, 2u); // from MAIN's first channel
    EXPECT_EQ(lane->writeAt(0).byteSize, 8u * 4 * kFrames);
    EXPECT_FLOAT_EQ(lane->writeAt(0).firstLeft, 0.5f);

    lane->arm(2, 50); // a new capture restarts at the lane's present frame
    cycle(tap, 8);
    EXPECT_EQ(lane->writeAt(2).atFrame, 50);
    lane->disarm();
    cycle(tap, 8);
    EXPECT_EQ(lane->writeCount(), 3u);

    // The general path feeds only the first output buffer, at channel offset 0; the two buffers
    // share one running gain (the second continues the first one's ramp).
    auto lane2 = std::make_shared<FakeLane>();
    ProcessTap general(server, {process}, 0.0f, false, 1.0f, lane2);
    general.start({out(speakers), out(headset)});
    general.setRecordsToMain(true);
    general.setVolume(1.0f);
    lane2->arm(1, 0);
    Buffers in, outs;
    in.addStereo(kFrames, 0.5f, -0.25f);
    outs.add(2, kFrames).add(2, kFrames);
    general.render(in.list(), outs.list());
    ASSERT_EQ(lane2->writeCount(), 1u);
    EXPECT_EQ(lane2->writeAt(0).channelOffset, 0u);
    EXPECT_FLOAT_EQ(lane2->writeAt(0).firstRight, outs.at(0, 0, 1));
    EXPECT_GT(outs.at(1, 0, 0), outs.at(0, kFrames - 1, 0));
    EXPECT_FLOAT_EQ(0.5f * general.currentGain(), outs.at(1, kFrames - 1, 0));
}

} // namespace
} // namespace orevant
