// Sound through the whole chain: a simulated application plays, a tap takes it to devices, and
// the devices' output is measured.
#include "capture/process_tap.h"
#include "capture_fixture.h"
#include "recording/recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

namespace orevant {
namespace {

constexpr size_t kSecond = 48000;

class EndToEndTest : public test::SimFixture {
protected:
    void run(double seconds) { audio().runCycles(static_cast<size_t>(std::ceil(seconds * kSecond / 512))); }
    float peak(AudioObjectID d, uint32_t ch) { return audio().outputPeak(d, ch, kSecond / 10); }
};

TEST_F(EndToEndTest, TapAtHalfVolumeIsHeardOnlyThroughTheTapAndRampsToANewVolume) {
    run(0.2);
    EXPECT_NEAR(peak(speakers, 0), 0.5f, 0.0005f); // untapped: the application's own level
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(headset)});
    run(0.5);
    const float want = 0.5f * 0.125f;
    EXPECT_NEAR(peak(headset, 1), want, want * 0.001f);
    EXPECT_NEAR(audio().outputRMS(headset, 0, kSecond / 10), want / std::sqrt(2.0f), want * 0.001f);
    EXPECT_EQ(peak(speakers, 0), 0.0f); // muted when tapped: not also heard directly
    EXPECT_NEAR(tap.takePeak(), want, want * 0.001f);

    tap.setVolume(1.0f);
    audio().runCycles(1);
    EXPECT_LT(audio().outputPeak(headset, 0, 512), 0.5f * 0.9f);
    run(0.5);
    EXPECT_NEAR(peak(headset, 0), 0.5f, 0.0005f);

    tap.stop(); // gone: the application is heard on its own again
    run(0.1);
    EXPECT_NEAR(peak(speakers, 0), 0.5f, 0.0005f);
    EXPECT_EQ(peak(headset, 0), 0.0f);
}

TEST_F(EndToEndTest, EachOutputLayoutIsHeardOnceWhereItShouldBe) {
    struct Heard {
        AudioObjectID device;
        uint32_t channel;
        float level;
    };
    struct Case {
        const char* name;
        std::vector<AudioObjectID> outputs;
        std::optional<ProcessTap::ChannelPairing> pairing;
        std::vector<Heard> heard;
    };
    const Case cases[] = {
        {"default output, not heard twice", {speakers}, std::nullopt, {{speakers, 0, 0.0625f}}},
        {"stacked",
         {headset, interface8},
         std::nullopt,
         {{headset, 0, 0.0625f}, {interface8, 1, 0.0625f}, {interface8, 2, 0.0f}, {speakers, 0, 0.0f}}},
        {"paired, PHONES at the cue level",
         {interface8},
         ProcessTap::ChannelPairing{0, 2, 2},
         {{interface8, 0, 0.0625f}, {interface8, 2, 0.5f * 0.512f}, {interface8, 4, 0.0f}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessTap tap(server, {process}, 0.5f, false, 0.8f);
        std::vector<ProcessTap::Output> outputs;
        for (AudioObjectID d : c.outputs) outputs.push_back(out(d));
        tap.start(outputs, c.pairing);
        tap.setPhonesMode(PhonesMode::cue);
        run(0.3);
        for (const Heard& h : c.heard) EXPECT_NEAR(peak(h.device, h.channel), h.level, 0.0001f) << h.device;
    }
}

TEST_F(EndToEndTest, DeviceOutputIsWrittenToAWavFileAndAFifoDoesNotBlock) {
    test::TempDir dir;
    const std::string path = (dir / "headset.wav").string();
    audio().setDeviceOutputFile(headset, path);
    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    tap.start({out(headset)});
    audio().runCycles(10);
    audio().setDeviceOutputFile(headset, ""); // closes the file

    auto wav = test::readWav(path);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->channels, 2);
    EXPECT_EQ(wav->frames(), 10 * 512);
    EXPECT_EQ(wav->format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    float p = 0;
    for (float v : wav->samples) p = std::max(p, std::fabs(v));
    EXPECT_NEAR(p, 0.0625f, 0.0001f);

    // Fault: a FIFO (from a scenario's "outputFile") blocked the engine waiting for a reader.
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    audio().setDeviceOutputFile(headset, (dir / "fifo.wav").string());
    audio().runCycles(1);
}

} // namespace
} // namespace orevant
