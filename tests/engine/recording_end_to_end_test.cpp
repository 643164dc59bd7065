// A take recorded through the engine: three simulated applications play distinct tones, each
// reaches its own lane through the tap the engine made for it, and the files are read back.
#include "engine/mixer_engine.h"

#include "recording/mix_recorder.h"
#include "recording/recording_test_support.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace orevant {
namespace {

struct Tone {
    test::SimApp app;
    float volume;
    // Every source plays a 0.5 sine; the file holds it after the gain law v^3.
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
    MixRecorder& recorder = world.addRecorder(takes.path());
    world.addOutputDevice("speakers", "Speakers");
    Tone player{world.addApp("com.example.player", "Music Player", 300.0), 1.0f};
    Tone browser{world.addApp("com.example.browser", "Browser", 1000.0), 0.8f};
    MixerEngine& engine = world.startEngine();
    engine.setVolume(browser.volume, world.app(browser.app));
    world.runAudio(0.5); // the browser's gain settles before the take

    engine.startRecording();
    ASSERT_TRUE(engine.isRecording());
    world.runAudio(1.0);
    // A third application starts playing a second into the take and joins it with a file of its own.
    Tone synth{world.addApp("com.example.synth", "Synth: Pads", 2500.0), 1.0f};
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

    // Each file holds its application's own tone at the level heard after the engine's gain,
    // and ends where the shared time line ends.
    for (const Tone* tone : {&player, &browser, &synth}) {
        SCOPED_TRACE(tone->app.name);
        const auto& lane = recorder.lanes().at(tone->app.bundleID);
        ASSERT_TRUE(lane->url().has_value());
        EXPECT_EQ(lane->url()->parent_path(), takes.path());
        auto wav = test::readWav(*lane->url());
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(lane->clipStartFrame() + wav->frames(), end);
        const int64_t from = onset(*wav, 1e-4f) + 14400; // past the synth's volume change and any ramp
        const int64_t to = tone == &browser ? browserStopped - lane->clipStartFrame() - 4800 : wav->frames();
        ASSERT_GT(to - from, 24000);
        float peak = 0.0f;
        for (int64_t k = from; k < to; ++k) peak = std::max(peak, std::fabs(wav->left(k)));
        EXPECT_NEAR(peak, tone->heardLevel(), tone->heardLevel() * 0.01f);
    }
    // The synth's file starts three seconds before it joined; the browser goes quiet where the
    // time line says it stopped (within one audio cycle).
    const auto& browserLane = *recorder.lanes().at(browser.app.bundleID);
    EXPECT_NEAR(static_cast<double>(recorder.lanes().at(synth.app.bundleID)->clipStartFrame()) / 48000.0, -2.0, 0.2);
    auto browserWav = test::readWav(*browserLane.url());
    ASSERT_TRUE(browserWav);
    EXPECT_LE(std::llabs(browserLane.clipStartFrame() + lastAudible(*browserWav, 1e-4f) - browserStopped), 512);
    world.dropEngine();
}

} // namespace
} // namespace orevant
