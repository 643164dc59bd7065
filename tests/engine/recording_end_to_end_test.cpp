// A take recorded through the engine: three simulated applications play distinct tones, each
// reaches its own lane through the tap the engine made for it, and the files are read back.
#include "engine/mixer_engine.h"

#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/recording_test_support.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>

namespace orevant {
namespace {

struct Tone {
    test::SimApp app;
    double frequency;
    float volume;
    // Every source plays a 0.5 sine; the file holds it after the gain law v³.
    float heardLevel() const { return 0.5f * volume * volume * volume; }
};

int64_t onset(const test::WavContents& wav, float threshold) {
    for (int64_t k = 0; k < wav.frames(); ++k) {
        if (std::fabs(wav.left(k)) > threshold) return k;
    }
    return -1;
}

int64_t lastAudible(const test::WavContents& wav, float threshold) {
    for (int64_t k = wav.frames() - 1; k >= 0; --k) {
        if (std::fabs(wav.left(k)) > threshold) return k;
    }
    return -1;
}

TEST(RecordingEndToEndTest, ThreeApplicationsRecordTheirOwnTonesOnOneTimeLine) {
    test::TempDir takes;
    test::EngineFixture world;
    world.defaults.set(RecordingFolder::kBookmarkKey, takes.path().string());
    MixRecorder recorder(world.queue, world.queue.hostClock(),
                         [&](const std::string&) { return std::make_unique<test::SharedQueueRef>(world.queue); });
    world.addOutputDevice("speakers", "Speakers");
    Tone player{world.addApp("com.example.player", "Music Player", 300.0), 300.0, 1.0f};
    Tone browser{world.addApp("com.example.browser", "Browser", 1000.0), 1000.0, 0.8f};
    world.makeEngine([&](MixerEngine::Services& services) { services.recorder = &recorder; });
    MixerEngine& engine = world.startEngine();
    engine.setVolume(browser.volume, world.app(browser.app));
    world.runAudio(0.5); // the browser's gain settles before the take

    engine.startRecording();
    ASSERT_TRUE(engine.isRecording());
    world.runAudio(1.0);
    // A third application starts playing a second into the take and joins it with a file of its own.
    Tone synth{world.addApp("com.example.synth", "Synth: Pads", 2500.0), 2500.0, 1.0f};
    world.settle();
    ASSERT_NE(engine.tap(synth.app.bundleID), nullptr);
    engine.setVolume(0.5f, world.app(synth.app));
    synth.volume = 0.5f;
    world.runAudio(1.5);
    // The browser falls silent midway: its file goes quiet at the same moment of the time line.
    world.audio.setPlaying(browser.app.process, false);
    const int64_t browserStopped = recorder.maxHighWater();
    world.runAudio(5.0 - 1.0 - 0.15 - 1.5);
    const int64_t end = recorder.maxHighWater();
    EXPECT_NEAR(static_cast<double>(end) / 48000.0, 5.0, 0.05) << "five seconds of capture";
    engine.stopRecording();
    ASSERT_FALSE(recorder.isTakeOpen());

    const int64_t preRoll = 3 * 48000;
    for (const Tone* tone : {&player, &browser, &synth}) {
        SCOPED_TRACE(tone->app.name);
        const auto& lane = recorder.lanes().at(tone->app.bundleID);
        ASSERT_TRUE(lane->url().has_value());
        EXPECT_EQ(lane->url()->parent_path(), takes.path());
        auto wav = test::readWav(*lane->url());
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        EXPECT_EQ(wav->channels, 2);
        EXPECT_EQ(wav->sampleRate, 48000);
        // Every file ends where the time line ends; its first frame is its place on that line.
        EXPECT_EQ(lane->clipStartFrame() + wav->frames(), end);

        // The application's own tone at the level heard after its gain, the same on both sides.
        const int64_t first = onset(*wav, 1e-4f);
        ASSERT_GE(first, 0);
        const int64_t from = first + 14400; // past the synth's volume change and any gain ramp
        const int64_t to = tone == &browser ? browserStopped - lane->clipStartFrame() - 4800 : wav->frames();
        ASSERT_GT(to - from, 24000);
        float peak = 0.0f;
        int64_t rising = 0, unequal = 0;
        for (int64_t k = from; k < to; ++k) {
            peak = std::max(peak, std::fabs(wav->left(k)));
            unequal += wav->left(k) != wav->right(k);
            if (wav->left(k - 1) < 0.0f && wav->left(k) >= 0.0f) ++rising;
        }
        EXPECT_EQ(unequal, 0);
        EXPECT_NEAR(peak, tone->heardLevel(), tone->heardLevel() * 0.01f);
        EXPECT_NEAR(static_cast<double>(rising) * 48000.0 / static_cast<double>(to - from), tone->frequency,
                    tone->frequency * 0.01);
    }

    // Shared time line: the two files of the take's start begin together, three seconds before
    // capture began (so with three seconds of silence), and the synth's file three seconds before
    // it joined.
    const auto& playerLane = *recorder.lanes().at(player.app.bundleID);
    const auto& browserLane = *recorder.lanes().at(browser.app.bundleID);
    const auto& synthLane = *recorder.lanes().at(synth.app.bundleID);
    EXPECT_EQ(playerLane.clipStartFrame(), -preRoll);
    EXPECT_EQ(browserLane.clipStartFrame(), -preRoll);
    EXPECT_NEAR(static_cast<double>(synthLane.clipStartFrame() + preRoll) / 48000.0, 1.0, 0.2);
    auto playerWav = test::readWav(*playerLane.url());
    auto browserWav = test::readWav(*browserLane.url());
    auto synthWav = test::readWav(*synthLane.url());
    ASSERT_TRUE(playerWav && browserWav && synthWav);
    EXPECT_LE(std::llabs(onset(*playerWav, 1e-4f) - preRoll), 512);
    EXPECT_LE(std::llabs(onset(*browserWav, 1e-4f) - onset(*playerWav, 1e-4f)), 512);
    EXPECT_LE(std::llabs(onset(*synthWav, 1e-4f) - preRoll), 512) << "its audio begins where it joined";
    // The browser went quiet where the time line says it stopped (within one audio cycle).
    EXPECT_LE(std::llabs(browserLane.clipStartFrame() + lastAudible(*browserWav, 1e-4f) - browserStopped), 512);
    EXPECT_EQ(synthLane.url()->filename().string(), "OREVANT " + recorder.takeStamp() + " Synth- Pads.wav");

    world.dropEngine();
}

} // namespace
} // namespace orevant
