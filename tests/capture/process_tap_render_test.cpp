// The render body driven directly with hand-made buffers, on a started tap (the simulated server
// runs no cycle unless asked, so these calls are the only ones).
#include "capture/process_tap.h"
#include "capture/render_mix.h"
#include "capture_fixture.h"
#include "platform/capture_log_sink.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::Buffers;
using test::FakeLane;
using test::SimFixture;

constexpr size_t kFrames = 512;

class RenderTest : public SimFixture {
protected:
    ProcessTap::Output out(AudioObjectID id) { return {*server.string(id, sel::deviceUID, scope::global), id}; }

    // Renders `cycles` cycles of a constant stereo tap stream (L 0.5, R -0.25) into one buffer of
    // `channels` channels; returns that buffer's last cycle.
    static Buffers cycle(ProcessTap& tap, uint32_t channels, int cycles = 1, size_t frames = kFrames) {
        Buffers in, outBufs;
        in.addStereo(frames, 0.5f, -0.25f);
        outBufs.add(channels, frames, 7.0f);
        for (int i = 0; i < cycles; ++i) tap.render(in.list(), outBufs.list());
        return outBufs;
    }
    static int cyclesFor(double seconds) { return static_cast<int>(std::ceil(seconds * 48000.0 / kFrames)); }
};

TEST_F(RenderTest, UnpairedGainAndChannelMapping) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(speakers)});
    Buffers two = cycle(tap, 2);
    EXPECT_FLOAT_EQ(two.at(0, 0, 0), 0.5f * 0.125f);
    EXPECT_FLOAT_EQ(two.at(0, kFrames - 1, 1), -0.25f * 0.125f);
    EXPECT_FLOAT_EQ(tap.takePeak(), 0.0625f);
    EXPECT_EQ(tap.takePeak(), 0.0f);

    Buffers one = cycle(tap, 1);
    EXPECT_FLOAT_EQ(one.at(0, 3, 0), 0.125f * 0.125f); // average of L and R

    Buffers six = cycle(tap, 6);
    EXPECT_FLOAT_EQ(six.at(0, 10, 0), 0.0625f);
    EXPECT_FLOAT_EQ(six.at(0, 10, 1), -0.03125f);
    for (size_t c = 2; c < 6; ++c) EXPECT_EQ(six.at(0, 10, c), 0.0f);

    Buffers in, outs;
    in.add(1, kFrames, 0.4f); // a mono tap stream fills every channel
    outs.add(6, kFrames, 7.0f);
    tap.render(in.list(), outs.list());
    for (size_t c = 0; c < 6; ++c) EXPECT_FLOAT_EQ(outs.at(0, 100, c), 0.05f);
}

TEST_F(RenderTest, VolumeRampReaches63PercentIn30ms) {
    ProcessTap tap(server, {process}, 0.0f, false, 1.0f);
    tap.start({out(speakers)});
    tap.setVolume(1.0f);
    Buffers in, outs;
    in.add(2, 480, 1.0f);
    outs.add(2, 480);
    for (int i = 0; i < 3; ++i) tap.render(in.list(), outs.list()); // 1440 frames = 30 ms
    EXPECT_NEAR(tap.currentGain(), 0.632f, 0.001f);
    for (int i = 0; i < 100; ++i) tap.render(in.list(), outs.list());
    EXPECT_EQ(tap.currentGain(), 1.0f); // snapped onto the target
    EXPECT_EQ(outs.at(0, 479, 0), 1.0f);
}

TEST_F(RenderTest, UnpairedMuteCutsAtOnceAndUnmuteResumes) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    tap.setVolume(0.0f);
    cycle(tap, 2, 2); // part way down the ramp
    const float held = tap.currentGain();
    ASSERT_GT(held, 0.1f);
    ASSERT_LT(held, 1.0f);
    (void)tap.takePeak();
    const uint64_t before = tap.renderCount();

    tap.setMuted(true);
    Buffers muted = cycle(tap, 2);
    for (float v : muted.samples(0)) ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(tap.currentGain(), held);
    EXPECT_EQ(tap.renderCount(), before + 1);
    EXPECT_EQ(tap.peak(), 0.0f); // nothing metered while muted

    tap.setMuted(false);
    Buffers resumed = cycle(tap, 2);
    // The first frame continues from the held gain, one ramp step further down.
    EXPECT_NEAR(resumed.at(0, 0, 0), 0.5f * held, 0.5f * held * 0.001f);
}

TEST_F(RenderTest, PairedBusesByPhonesMode) {
    ProcessTap tap(server, {process}, 0.5f, false, 0.5f); // both gains start at 0.125
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    ASSERT_TRUE(tap.pairedBuses());
    ScopedLogCapture logs;

    // Mode 0: PHONES follows MAIN's gain.
    Buffers four = cycle(tap, 4);
    EXPECT_FLOAT_EQ(four.at(0, 5, 0), 0.0625f);
    EXPECT_FLOAT_EQ(four.at(0, 5, 1), -0.03125f);
    EXPECT_FLOAT_EQ(four.at(0, 5, 2), 0.0625f);
    EXPECT_FLOAT_EQ(four.at(0, 5, 3), -0.03125f);

    // On eight channels the channels outside both slices are silent.
    Buffers eight = cycle(tap, 8);
    for (size_t c = 4; c < 8; ++c) EXPECT_EQ(eight.at(0, 5, c), 0.0f);

    // Cue mode: PHONES ramps to the cue level times the bus gain, independently of MAIN.
    tap.setPhonesMode(PhonesMode::cue);
    tap.setCueVolume(1.0f);
    tap.setPhonesBusGain(0.5f);
    Buffers first = cycle(tap, 4);
    EXPECT_GT(first.at(0, kFrames - 1, 2), 0.0625f);
    EXPECT_LT(first.at(0, kFrames - 1, 2), 0.25f);
    Buffers settled = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_FLOAT_EQ(settled.at(0, 9, 0), 0.0625f);
    EXPECT_FLOAT_EQ(settled.at(0, 9, 2), 0.5f * 0.5f); // L 0.5 at cue 1.0 times bus 0.5
    EXPECT_EQ(tap.currentCueGain(), 0.5f);

    // Silent mode: PHONES ramps to silence rather than cutting.
    tap.setPhonesMode(PhonesMode::silent);
    Buffers fading = cycle(tap, 4);
    EXPECT_GT(std::fabs(fading.at(0, kFrames - 1, 2)), 0.0f);
    Buffers silent = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_EQ(silent.at(0, 9, 2), 0.0f);
    EXPECT_FLOAT_EQ(silent.at(0, 9, 0), 0.0625f);

    // A mode outside the enumeration acts as sameAsMain.
    tap.setPhonesMode(static_cast<PhonesMode>(7));
    Buffers asZero = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_FLOAT_EQ(asZero.at(0, 9, 2), 0.0625f * 0.5f); // main gain times the bus gain

    EXPECT_EQ(logs->count("SHAPE"), 0u); // the paired path writes no diagnostics
}

TEST_F(RenderTest, PairedMeterTakesOnlyMain) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{2, 0, 2});
    tap.setPhonesMode(PhonesMode::cue);
    cycle(tap, 4, cyclesFor(1.0)); // PHONES at 1.0 on channels 0–1, MAIN at 0.125 on 2–3
    EXPECT_FLOAT_EQ(tap.takePeak(), 0.0625f);
}

TEST_F(RenderTest, PairedMutedApplicationKeepsItsCueOnlyInCueMode) {
    ProcessTap tap(server, {process}, 1.0f, false, 0.5f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    tap.setPhonesMode(PhonesMode::cue);
    cycle(tap, 4, cyclesFor(1.0));
    tap.setMuted(true);
    Buffers first = cycle(tap, 4);
    EXPECT_GT(first.at(0, kFrames - 1, 0), 0.0f); // MAIN ramps, no cut
    Buffers settled = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_EQ(settled.at(0, 7, 0), 0.0f);
    EXPECT_FLOAT_EQ(settled.at(0, 7, 2), 0.5f * 0.125f); // cue level survives the mute

    tap.setPhonesMode(PhonesMode::sameAsMain);
    Buffers followed = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_EQ(followed.at(0, 7, 2), 0.0f);
}

TEST_F(RenderTest, PairedLayoutTooWideFallsBackToTheGeneralPath) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    ScopedLogCapture logs;
    Buffers two = cycle(tap, 2); // needs 4 channels
    EXPECT_FLOAT_EQ(two.at(0, 0, 0), 0.5f);
    EXPECT_FLOAT_EQ(two.at(0, 0, 1), -0.25f);
    tap.logDiagnostics();
    EXPECT_EQ(logs->count("SHAPE out[1]: 2ch/4096B"), 1u);
}

TEST_F(RenderTest, PanicRampsBothBusesDownAndBackUp) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    tap.setPanicked(true);
    Buffers first = cycle(tap, 4);
    const float lastMain = first.at(0, kFrames - 1, 0);
    EXPECT_GT(lastMain, 0.0f);
    EXPECT_LT(lastMain, 0.5f);
    EXPECT_FLOAT_EQ(first.at(0, kFrames - 1, 2), lastMain); // both ramp alike
    Buffers silent = cycle(tap, 4, cyclesFor(1.0));
    for (float v : silent.samples(0)) ASSERT_EQ(v, 0.0f);

    tap.setPanicked(false);
    Buffers rising = cycle(tap, 4);
    EXPECT_GT(rising.at(0, kFrames - 1, 0), 0.0f);
    EXPECT_LT(rising.at(0, kFrames - 1, 0), 0.5f);
    Buffers back = cycle(tap, 4, cyclesFor(1.0));
    EXPECT_FLOAT_EQ(back.at(0, 0, 0), 0.5f);
    EXPECT_FLOAT_EQ(back.at(0, 0, 2), 0.5f);

    // Unpaired, panic ramps too (no cut).
    ProcessTap plain(server, {process}, 1.0f, false, 1.0f);
    plain.start({out(speakers)});
    plain.setPanicked(true);
    Buffers p = cycle(plain, 2);
    EXPECT_GT(p.at(0, kFrames - 1, 0), 0.0f);
    EXPECT_EQ(cycle(plain, 2, cyclesFor(1.0)).at(0, 5, 0), 0.0f);
}

TEST_F(RenderTest, MissingBuffers) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    // Null output data is skipped; the others are written.
    Buffers in, outs;
    in.addStereo(kFrames, 0.5f, 0.5f);
    outs.addNull(2, 4096).add(2, kFrames, 7.0f);
    tap.render(in.list(), outs.list());
    EXPECT_FLOAT_EQ(outs.at(1, 0, 0), 0.5f);

    // No tap stream data, or no input at all: silence.
    Buffers nullTap, outs2;
    nullTap.addNull(2, 4096);
    outs2.add(2, kFrames, 7.0f);
    tap.render(nullTap.list(), outs2.list());
    for (float v : outs2.samples(0)) ASSERT_EQ(v, 0.0f);
    Buffers none, outs3;
    outs3.add(2, kFrames, 7.0f);
    tap.render(none.list(), outs3.list());
    for (float v : outs3.samples(0)) ASSERT_EQ(v, 0.0f);

    // A tap stream shorter than the output: the rest of the output is silent.
    Buffers shortIn, outs4;
    shortIn.addStereo(100, 0.5f, 0.5f);
    outs4.add(2, kFrames, 7.0f);
    tap.render(shortIn.list(), outs4.list());
    EXPECT_FLOAT_EQ(outs4.at(0, 99, 1), 0.5f);
    EXPECT_EQ(outs4.at(0, 100, 0), 0.0f);
    EXPECT_EQ(outs4.at(0, kFrames - 1, 1), 0.0f);

    // The tap stream is the last input buffer; the ones before it are not played.
    Buffers withMic, outs5;
    withMic.add(1, kFrames, 0.9f).addStereo(kFrames, 0.1f, 0.2f);
    outs5.add(2, kFrames);
    tap.render(withMic.list(), outs5.list());
    EXPECT_FLOAT_EQ(outs5.at(0, 0, 0), 0.1f);
    EXPECT_FLOAT_EQ(outs5.at(0, 0, 1), 0.2f);
}

TEST_F(RenderTest, TwoOutputBuffersShareOneRunningGain) {
    ProcessTap tap(server, {process}, 0.0f, false, 1.0f);
    tap.start({out(speakers), out(headset)});
    tap.setVolume(1.0f);
    Buffers in, outs;
    in.addStereo(kFrames, 1.0f, 1.0f);
    outs.add(2, kFrames).add(2, kFrames);
    tap.render(in.list(), outs.list());
    // The second buffer continues the ramp where the first ended.
    EXPECT_GT(outs.at(1, 0, 0), outs.at(0, kFrames - 1, 0));
    EXPECT_FLOAT_EQ(tap.currentGain(), outs.at(1, kFrames - 1, 0));
}

TEST_F(RenderTest, PassThroughWhenNotFloat) {
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
    EXPECT_EQ(outs.samples(0)[1], -0.25f);
    EXPECT_EQ(outs.samples(0)[2 * kFrames - 1], -0.25f);
    EXPECT_EQ(outs.samples(0)[2 * kFrames], 0.0f);
    EXPECT_EQ(tap.peak(), 0.0f);

    // Muted with paired buses, or panicked: silent, not passed through.
    tap.setMuted(true);
    tap.render(in.list(), outs.list());
    for (float v : outs.samples(0)) ASSERT_EQ(v, 0.0f);
    tap.setMuted(false);
    tap.setPanicked(true);
    outs.fill(7.0f);
    tap.render(in.list(), outs.list());
    for (float v : outs.samples(0)) ASSERT_EQ(v, 0.0f);
}

TEST_F(RenderTest, DiagnosticsAreCapturedOnTheIOThreadAndLoggedByTheMainQueue) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(speakers), out(interface8)});
    ScopedLogCapture logs;
    Buffers in, outs;
    in.add(1, kFrames, 0.3f).addStereo(kFrames, 0.5f, -0.25f);
    outs.add(2, kFrames).add(8, kFrames);
    for (int i = 0; i < 500; ++i) tap.render(in.list(), outs.list());
    EXPECT_TRUE(tap.shapeLogged());
    EXPECT_TRUE(logs->messages("ProcessTap").empty()); // render itself logs nothing

    tap.logDiagnostics();
    tap.logDiagnostics(); // each line once
    const std::string shape = "SHAPE out[2]: 2ch/4096B 8ch/16384B | in[2]: 1ch/2048B 2ch/4096B | float32=true";
    const std::string first = "PEAKDIAG n=500 inPeaks=[0.3000 0.5000] outPeaks=[0.0625 0.0625] target=0.125000 "
                              "vol=0.500000 maxTap=0.500000 maxIn0=0.300000";
    EXPECT_EQ(logs->messages("ProcessTap"), (std::vector<std::string>{shape, first}));
    EXPECT_EQ(logs->count("PEAKDIAG", LogLevel::notice), 1u);

    // Five PEAKDIAG lines in all (n = 500 … 2500), then none; stop() writes what is left.
    for (int i = 0; i < 2600; ++i) tap.render(in.list(), outs.list());
    EXPECT_TRUE(tap.diagLogged());
    tap.stop();
    EXPECT_EQ(logs->count("PEAKDIAG"), 5u);
    EXPECT_EQ(logs->count("PEAKDIAG n=2500 "), 1u);

    // A slot keeps sixteen buffers of a list and counts the rest.
    ProcessTap wide(server, {process}, 1.0f, false, 1.0f);
    wide.start({out(speakers)});
    Buffers few, many;
    few.addStereo(4, 0.1f, 0.1f);
    for (int i = 0; i < 18; ++i) many.add(1, 4);
    wide.render(few.list(), many.list());
    wide.logDiagnostics();
    std::string entries;
    for (int i = 0; i < 16; ++i) entries += i ? " 1ch/16B" : "1ch/16B";
    EXPECT_EQ(logs->count("SHAPE out[18]: " + entries + " +2 more | in[1]: 2ch/32B | float32=true"), 1u);
}

TEST_F(RenderTest, DenormalsAreFlushedWhileRenderRunsOnly) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    Buffers in, outs;
    in.addStereo(kFrames, 1e-39f, -1e-39f);
    outs.add(2, kFrames, 7.0f);
    tap.render(in.list(), outs.list());
    EXPECT_EQ(outs.at(0, 0, 0), 0.0f); // read as zero, though the gain is 1
    EXPECT_EQ(outs.at(0, 9, 1), 0.0f);
    volatile float tiny = 1e-38f;
    EXPECT_GT(tiny / 16.0f, 0.0f); // the calling thread keeps gradual underflow afterwards
}

TEST_F(RenderTest, RecordingLaneFeed) {
    auto lane = std::make_shared<FakeLane>();
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f, lane);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{2, 4, 2});

    cycle(tap, 8); // not recording to MAIN: nothing written
    lane->arm(1, 1000);
    cycle(tap, 8);
    EXPECT_EQ(lane->writeCount(), 0u);

    tap.setRecordsToMain(true);
    cycle(tap, 8, 2);
    ASSERT_EQ(lane->writeCount(), 2u);
    EXPECT_EQ(lane->writeAt(0).atFrame, 1000);
    EXPECT_EQ(lane->writeAt(1).atFrame, 1000 + static_cast<int64_t>(kFrames));
    EXPECT_EQ(lane->writeAt(0).channels, 8u);
    EXPECT_EQ(lane->writeAt(0).channelOffset, 2u); // from MAIN's first channel
    EXPECT_EQ(lane->writeAt(0).byteSize, 8u * 4 * kFrames);
    EXPECT_FLOAT_EQ(lane->writeAt(0).firstLeft, 0.5f); // post-gain MAIN signal

    // A new capture restarts the cursor at the lane's present frame.
    lane->arm(2, 50);
    cycle(tap, 8);
    EXPECT_EQ(lane->writeAt(2).atFrame, 50);

    lane->disarm();
    cycle(tap, 8);
    EXPECT_EQ(lane->writeCount(), 3u);

    // The general path feeds only the first output buffer at channel offset 0.
    auto lane2 = std::make_shared<FakeLane>();
    ProcessTap general(server, {process}, 0.5f, false, 1.0f, lane2);
    general.start({out(speakers), out(headset)});
    general.setRecordsToMain(true);
    lane2->arm(1, 0);
    Buffers in, outs;
    in.addStereo(kFrames, 0.5f, -0.25f);
    outs.add(2, kFrames).add(2, kFrames);
    general.render(in.list(), outs.list());
    ASSERT_EQ(lane2->writeCount(), 1u);
    EXPECT_EQ(lane2->writeAt(0).channelOffset, 0u);
    EXPECT_FLOAT_EQ(lane2->writeAt(0).firstRight, -0.25f * 0.125f);
}

} // namespace
} // namespace orevant
