// Sound through the whole chain: a simulated application plays, a tap takes it to devices, and
// the devices' output is measured.
#include "capture/process_tap.h"
#include "capture_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>

namespace orevant {
namespace {

using test::SimFixture;

constexpr size_t kSecond = 48000;

class EndToEndTest : public SimFixture {
protected:
    ProcessTap::Output out(AudioObjectID id) { return {*server.string(id, sel::deviceUID, scope::global), id}; }
    void run(double seconds) { audio().runCycles(static_cast<size_t>(std::ceil(seconds * kSecond / 512))); }
    float peak(AudioObjectID d, uint32_t ch) { return audio().outputPeak(d, ch, kSecond / 10); }
    float rms(AudioObjectID d, uint32_t ch) { return audio().outputRMS(d, ch, kSecond / 10); }
};

TEST_F(EndToEndTest, TapAtHalfVolumeIsHeardOnlyThroughTheTap) {
    // Untapped, the application plays on the default output at its own level.
    run(0.2);
    EXPECT_NEAR(peak(speakers, 0), 0.5f, 0.0005f);
    EXPECT_NEAR(peak(speakers, 1), 0.5f, 0.0005f);
    EXPECT_EQ(peak(headset, 0), 0.0f);

    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(headset)});
    run(0.5); // past any ramp
    const float want = 0.5f * 0.125f;
    EXPECT_NEAR(peak(headset, 0), want, want * 0.001f);
    EXPECT_NEAR(peak(headset, 1), want, want * 0.001f);
    EXPECT_NEAR(rms(headset, 0), want / std::sqrt(2.0f), want * 0.001f);
    EXPECT_EQ(peak(speakers, 0), 0.0f); // muted when tapped: not also heard directly
    EXPECT_GT(tap.renderCount(), 0u);
    EXPECT_NEAR(tap.takePeak(), want, want * 0.001f);

    // Volume up: the gain ramps over about 100 ms to the new level.
    tap.setVolume(1.0f);
    audio().runCycles(1);
    EXPECT_LT(audio().outputPeak(headset, 0, 512), 0.5f * 0.9f);
    run(0.5);
    EXPECT_NEAR(peak(headset, 0), 0.5f, 0.0005f);

    // Once the tap is gone the application is heard on its own again.
    tap.stop();
    run(0.1);
    EXPECT_NEAR(peak(speakers, 0), 0.5f, 0.0005f);
    EXPECT_EQ(peak(headset, 0), 0.0f);
}

TEST_F(EndToEndTest, TapOnTheDefaultOutputIsNotHeardTwice) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(speakers)});
    run(0.3);
    EXPECT_NEAR(peak(speakers, 0), 0.0625f, 0.0625f * 0.001f);
}

TEST_F(EndToEndTest, StackedTapIsHeardOnBothDevices) {
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(headset), out(interface8)});
    run(0.3);
    const float want = 0.0625f;
    EXPECT_NEAR(peak(headset, 0), want, want * 0.001f);
    EXPECT_NEAR(peak(interface8, 0), want, want * 0.001f);
    EXPECT_NEAR(peak(interface8, 1), want, want * 0.001f);
    for (uint32_t c = 2; c < 8; ++c) EXPECT_EQ(peak(interface8, c), 0.0f);
    EXPECT_EQ(peak(speakers, 0), 0.0f);
}

TEST_F(EndToEndTest, PairedBusesOnTheInterface) {
    ProcessTap tap(server, {process}, 1.0f, false, 0.5f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    tap.setPhonesMode(PhonesMode::cue);
    run(0.5);
    EXPECT_NEAR(peak(interface8, 0), 0.5f, 0.0005f);
    EXPECT_NEAR(peak(interface8, 2), 0.5f * 0.125f, 0.0001f);
    EXPECT_EQ(peak(interface8, 4), 0.0f);
}

TEST_F(EndToEndTest, TwoApplicationsMixOnTheDefaultOutput) {
    const AudioObjectID other =
        system.addProcess(test::processSpec(777, true, test::sourceSpec(SimAudioSource::Kind::sine, 0.25f, 1000.0)));
    run(0.1);
    EXPECT_NEAR(peak(speakers, 0), 0.75f, 0.001f); // same frequency and phase: amplitudes add
    ProcessTap tap(server, {other}, 0.0f, true, 1.0f);
    tap.start({out(speakers)});
    run(0.1);
    EXPECT_NEAR(peak(speakers, 0), 0.5f, 0.001f); // the muted one is gone, the other plays on
}

TEST_F(EndToEndTest, DeviceOutputIsWrittenToAWavFile) {
    test::TempDir dir;
    const std::string path = (dir / "headset.wav").string();
    audio().setDeviceOutputFile(headset, path);
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(headset)});
    audio().runCycles(10);
    audio().setDeviceOutputFile(headset, ""); // closes the file

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, 10 * 512);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    std::vector<float> data(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    float p = 0;
    for (float v : data) p = std::max(p, std::fabs(v));
    EXPECT_NEAR(p, 0.0625f, 0.0001f);

    // Fault: a FIFO (from a scenario's "outputFile") blocked the engine waiting for a reader.
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    audio().setDeviceOutputFile(headset, (dir / "fifo.wav").string());
    audio().runCycles(1);
}

} // namespace
} // namespace orevant
