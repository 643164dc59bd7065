// A take recorded from real taps: simulated applications play tones, each through its own tap
// into its own lane, and the files are read back.
#include "audio/hal.h"
#include "capture/process_tap.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "recording/mix_recorder.h"
#include "recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

namespace orevant {
namespace {

using test::readWav;
using test::SharedQueueRef;

constexpr double kDeviceRate = 44100.0;

struct App {
    std::string key;
    std::string name;
    double frequency;
    float volume;
    AudioObjectID process = 0;
    std::unique_ptr<ProcessTap> tap;
    float heardLevel() const { return 0.5f * volume * volume * volume; } // amplitude 0.5, gain v³
};

class RecordingEndToEndTest : public ::testing::Test {
protected:
    RecordingEndToEndTest() {
        SimDeviceSpec device;
        device.uid = "speakers";
        device.name = "Speakers";
        device.sampleRate = kDeviceRate;
        speakers = system.addDevice(device);
        system.setDefaultOutput(speakers);
        queue.runUntilIdle();
    }

    void addApp(App& app) {
        SimProcessSpec process;
        process.pid = static_cast<int32_t>(600 + apps.size());
        process.playing = true;
        process.source.kind = SimAudioSource::Kind::sine;
        process.source.frequency = app.frequency;
        process.source.amplitude = 0.5f;
        app.process = system.addProcess(process);
        queue.runUntilIdle();
        app.tap = std::make_unique<ProcessTap>(server, std::vector<AudioObjectID>{app.process}, app.volume, false, 1.0f,
                                               recorder.lane(app.key, app.name));
        app.tap->setRecordsToMain(true);
        app.tap->start({{"speakers", speakers}});
        apps.push_back(&app);
    }

    // Runs IO cycles for `seconds`, moving the virtual clock (and so the drains) with them.
    void run(double seconds) {
        const size_t cycles = static_cast<size_t>(std::lround(seconds * kDeviceRate / SimAudioEngine::kCycleFrames));
        for (size_t done = 0; done < cycles; done += 10) {
            const size_t step = std::min<size_t>(10, cycles - done);
            server.audio().runCycles(step);
            queue.advance(static_cast<double>(step * SimAudioEngine::kCycleFrames) / kDeviceRate);
        }
    }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    AudioObjectID speakers = 0;
    MixRecorder recorder{queue, queue.hostClock(),
                         [this](const std::string&) { return std::make_unique<SharedQueueRef>(queue); }};
    std::vector<App*> apps;
    test::TempDir dir;
};

// Index of the first sample whose magnitude passes `threshold`, or -1.
int64_t onset(const test::WavContents& wav, float threshold) {
    for (int64_t k = 0; k < wav.frames(); ++k)
        if (std::fabs(wav.left(k)) > threshold) return k;
    return -1;
}

TEST_F(RecordingEndToEndTest, EveryApplicationIsRecordedToItsOwnFileAtItsHeardLevelOnOneTimeLine) {
    App player{"com.example.player", "Music Player", 300.0, 1.0f, 0, nullptr};
    App browser{"com.example.browser", "Browser", 1000.0, 0.8f, 0, nullptr};
    App synth{"com.example.synth", "Synth: Pads", 2500.0, 0.5f, 0, nullptr};
    addApp(player);
    addApp(browser);

    const double rate = HAL(server).read<double>(speakers, sel::nominalSampleRate);
    recorder.startCapture(rate);
    recorder.openTake(dir.path(), "2025-03-14 09.05.27");
    run(1.0);
    addApp(synth); // joins the take a second in
    const int64_t synthJoined = recorder.lanes().at(synth.key)->currentFrame();
    run(4.0);
    recorder.closeTake();
    for (App* app : apps) app->tap->stop();

    const int64_t preRoll = 3 * static_cast<int64_t>(kDeviceRate);
    ASSERT_EQ(recorder.lanes().size(), 3u);
    for (App* app : apps) {
        SCOPED_TRACE(app->name);
        const auto& lane = recorder.lanes().at(app->key);
        ASSERT_TRUE(lane->url());
        auto wav = readWav(*lane->url());
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(wav->channels, 2);
        EXPECT_EQ(wav->sampleRate, 44100);

        // The file starts three seconds before its lane joined, and ends where every file ends.
        const int64_t joined = lane->clipStartFrame() + preRoll;
        EXPECT_EQ(lane->clipStartFrame() + wav->frames(), recorder.maxHighWater());
        const int64_t first = onset(*wav, 1e-4f);
        ASSERT_GE(first, 0);
        EXPECT_LE(std::llabs(lane->clipStartFrame() + first - joined), 2) << "audio begins where the lane joined";

        // The application's own tone, at the level heard after its gain.
        float peak = 0.0f;
        int64_t rising = 0, unequal = 0;
        for (int64_t k = first + 1; k < wav->frames(); ++k) {
            peak = std::max(peak, std::fabs(wav->left(k)));
            unequal += wav->left(k) != wav->right(k);
            if (wav->left(k - 1) < 0.0f && wav->left(k) >= 0.0f) ++rising;
        }
        EXPECT_EQ(unequal, 0) << "the source plays the same on both channels";
        EXPECT_NEAR(peak, app->heardLevel(), app->heardLevel() * 0.002f);
        const double seconds = static_cast<double>(wav->frames() - first) / kDeviceRate;
        EXPECT_NEAR(static_cast<double>(rising) / seconds, app->frequency, 2.0);
    }
    EXPECT_EQ(recorder.lanes().at(synth.key)->clipStartFrame(), synthJoined - preRoll);
    EXPECT_EQ(recorder.lanes().at(player.key)->clipStartFrame(), -preRoll);
    EXPECT_EQ(recorder.lanes().at(browser.key)->url()->filename(), "OREVANT 2025-03-14 09.05.27 Browser.wav");
    EXPECT_EQ(recorder.lanes().at(synth.key)->url()->filename(), "OREVANT 2025-03-14 09.05.27 Synth- Pads.wav");
}

} // namespace
} // namespace orevant
