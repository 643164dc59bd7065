// The engine's recording control: takes opened and closed through the recorder, the sample rate
// and folder they use, the automatic-recording switch, the size ceiling, and the indicator.
#include "engine/mixer_engine.h"

#include "audio/audio_device.h"
#include "engine/recording_control.h"
#include "engine/recording_indicator.h"
#include "persistence/defaults_keys.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/recording_test_support.h"
#include "recording/wav_file.h"
#include "support/counting_companion_bridge.h"
#include "support/engine_fixture.h"
#include "support/sim_specs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace orevant {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> wavFiles(const fs::path& folder) {
    std::vector<std::string> names;
    if (!fs::is_directory(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The simulated world with a recorder over a temporary take folder and a counting bridge.
struct RecordingWorld {
    test::TempDir takes;
    test::EngineFixture world;
    MixRecorder* recorder = nullptr;
    test::CountingCompanionBridge* bridge = nullptr;

    MixerEngine& startEngine(const RecordingLaneOptions& options = {}) {
        recorder = &world.addRecorder(takes.path(), options);
        auto owned = std::make_unique<test::CountingCompanionBridge>();
        bridge = owned.get();
        world.makeEngine().setCompanionBridge(std::move(owned));
        return world.startEngine();
    }
};

class RecordingControlTest : public ::testing::Test, protected RecordingWorld {};

TEST_F(RecordingControlTest, OneTakePerStartAndTheTapsThatOnlyServedItAreReleased) {
    world.addOutputDevice("speakers", "Speakers");
    const test::SimApp music = world.addApp("com.example.music", "Music");
    MixerEngine& engine = startEngine();
    EXPECT_EQ(engine.tap(music.bundleID), nullptr) << "an application at its defaults plays untouched";

    const int listsBefore = bridge->appLists;
    engine.stopRecording();
    EXPECT_EQ(bridge->appLists, listsBefore) << "stopping without a take does nothing";

    engine.startRecording();
    EXPECT_TRUE(engine.isRecording());
    EXPECT_TRUE(recorder->isTakeOpen());
    EXPECT_EQ(engine.recordingURL(), std::optional<fs::path>(takes.path()));
    EXPECT_NE(engine.tap(music.bundleID), nullptr) << "every playing application is recorded";
    EXPECT_GT(bridge->appLists, listsBefore) << "the phone sees the record state";
    const std::string stamp = recorder->takeStamp();
    EXPECT_EQ(wavFiles(takes.path()), std::vector<std::string>{"OREVANT " + stamp + " Music.wav"});

    world.runAudio(0.5);
    engine.startRecording();
    EXPECT_EQ(recorder->takeStamp(), stamp) << "a second start opens no second take";

    // A panic released just before: its pending drop must not run early once the take stops.
    engine.setPanicked(true);
    engine.setPanicked(false);
    world.runAudio(0.2);
    const int listsBeforeStop = bridge->appLists;
    engine.stopRecording();
    EXPECT_FALSE(engine.isRecording());
    EXPECT_FALSE(recorder->isCapturing());
    EXPECT_EQ(engine.recordingURL(), std::optional<fs::path>(takes.path())) << "the last take stays findable";
    EXPECT_GT(bridge->appLists, listsBeforeStop);
    EXPECT_EQ(wavFiles(takes.path()).size(), 1u) << "the audible take is kept";

    world.runAudio(0.2);
    EXPECT_NE(engine.tap(music.bundleID), nullptr);
    world.runAudio(0.2);
    EXPECT_EQ(engine.tap(music.bundleID), nullptr) << "released 0.3 s after the take";
}

TEST_F(RecordingControlTest, CaptureRunsAtTheOutputDeviceRateOrFortyEightKilohertz) {
    const AudioObjectID studio = world.audio.addDevice(test::deviceSpec("studio", 2, 44100.0));
    world.setDefaultOutput(studio);
    MixerEngine& engine = startEngine();
    ASSERT_TRUE(engine.currentOutputDevice().has_value());

    engine.startRecording();
    EXPECT_DOUBLE_EQ(recorder->sampleRate(), 44100.0);
    engine.stopRecording();

    world.server.injectFailure(studio, sel::nominalSampleRate, status::unknownProperty, SimAudioServer::opGet);
    engine.startRecording();
    EXPECT_TRUE(engine.isRecording()) << "an unreadable rate does not prevent the take";
    EXPECT_DOUBLE_EQ(recorder->sampleRate(), MixerEngine::kDefaultRecordingSampleRate);
    engine.stopRecording();
}

TEST_F(RecordingControlTest, AutomaticRecordingKeepsCaptureAndTapsBetweenTakes) {
    world.addOutputDevice("speakers", "Speakers");
    const test::SimApp music = world.addApp("com.example.music", "Music");
    MixerEngine& engine = startEngine();

    engine.setIsAutoRec(true);
    EXPECT_EQ(world.defaults.boolean(std::string(defaults_keys::autoRec)), std::optional<bool>(true));
    EXPECT_NE(engine.tap(music.bundleID), nullptr) << "every playing application keeps a lane";

    engine.startRecording();
    const uint64_t captureStart = recorder->startHostTime();
    world.runAudio(1.0);
    engine.stopRecording();
    EXPECT_FALSE(recorder->isTakeOpen());
    EXPECT_TRUE(recorder->isCapturing()) << "the pre-roll keeps filling";
    world.runAudio(1.0);
    EXPECT_NE(engine.tap(music.bundleID), nullptr);

    engine.startRecording();
    EXPECT_TRUE(recorder->isTakeOpen());
    EXPECT_EQ(recorder->startHostTime(), captureStart) << "the next take does not restart capture";
    engine.stopRecording();

    engine.setIsAutoRec(false);
    EXPECT_EQ(world.defaults.boolean(std::string(defaults_keys::autoRec)), std::optional<bool>(false));
    engine.startRecording();
    engine.stopRecording();
    EXPECT_FALSE(recorder->isCapturing()) << "without the switch a stop ends capture";
}

TEST_F(RecordingControlTest, IndicatorIsShownWhileRecordingAndStopsTheTake) {
    world.addOutputDevice("speakers", "Speakers");
    world.addApp("com.example.music", "Music");
    MixerEngine& engine = startEngine();
    RecordingIndicator indicator(world.queue);
    int redraws = 0;
    indicator.onChange = [&] { ++redraws; };
    indicator.attach(engine);
    EXPECT_FALSE(indicator.isShown());

    engine.startRecording();
    world.queue.runUntilIdle();
    ASSERT_TRUE(indicator.isShown());
    EXPECT_EQ(redraws, 1);
    ASSERT_EQ(indicator.menu().size(), 3u);

    world.runAudio(2.5);
    indicator.menuWillOpen();
    EXPECT_EQ(indicator.menu()[0].title, "Recording — 00:02");

    indicator.stopRecording();
    EXPECT_FALSE(engine.isRecording());
    world.queue.runUntilIdle();
    EXPECT_FALSE(indicator.isShown());
    EXPECT_TRUE(indicator.menu().empty());
    indicator.detach();
}

TEST(RecordingIndicatorTitleTest, ElapsedTimeInWholeMinutesAndSeconds) {
    const struct {
        int64_t frames;
        double rate;
        const char* title;
    } cases[] = {
        {125 * 48000, 48000.0, "Recording — 02:05"},
        {125 * 48000 - 1, 48000.0, "Recording — 02:04"},        // whole seconds, rounded down
        {int64_t{6000} * 44100, 44100.0, "Recording — 100:00"}, // minutes are not limited to two digits
        {61, 0.0, "Recording — 01:01"},                         // a rate below 1 counts as 1
    };
    for (const auto& c : cases) EXPECT_EQ(RecordingIndicator::elapsedTitle(c.frames, c.rate), c.title);
}

// A file with room for `room` frames, on a disk that is then full.
class FillingFile final : public AudioFile {
public:
    FillingFile(std::unique_ptr<AudioFile> inner, int64_t room) : inner_(std::move(inner)), room_(room) {}
    int64_t writeFrames(const float* interleaved, int64_t frames) override {
        const int64_t fits = std::min(frames, room_);
        room_ -= fits;
        return fits > 0 ? inner_->writeFrames(interleaved, fits) : 0;
    }
    std::string lastError() const override { return "No space left on device"; }

private:
    std::unique_ptr<AudioFile> inner_;
    int64_t room_;
};

// Faults: a folder that could not be made still opened a take of no files; no output device
// refused silently; the chosen folder stayed held after its take.
TEST_F(RecordingControlTest, ARefusedTakeSaysWhyAndAStartedOneHoldsItsFolderUntilItEnds) {
    recorder = &world.addRecorder(takes.path());
    RecordingControl control(world.server, world.defaults, recorder);
    AudioDevice speakers;
    speakers.name = "Speakers";

    EXPECT_FALSE(control.begin(nullptr));
    ASSERT_TRUE(control.failure());
    EXPECT_NE(control.failure()->find("no output device"), std::string::npos);
    EXPECT_FALSE(recorder->isCapturing());

    // Neither the chosen folder nor the music or documents folder can be made.
    test::TempDir home;
    { std::ofstream(home / "file") << "x"; }
    test::ScopedEnv music("XDG_MUSIC_DIR", (home / "file/Music").c_str());
    test::ScopedEnv documents("XDG_DOCUMENTS_DIR", (home / "file/Documents").c_str());
    world.defaults.set(RecordingFolder::kBookmarkKey, (home / "file/chosen").string());
    EXPECT_FALSE(control.begin(&speakers));
    EXPECT_FALSE(control.isRecording());
    EXPECT_FALSE(recorder->isCapturing());
    ASSERT_TRUE(control.failure());
    EXPECT_NE(control.failure()->find((home.path() / "file/Documents").string()), std::string::npos)
        << *control.failure();

    // The chosen folder is held only while its take records; one take at a time.
    world.defaults.set(RecordingFolder::kBookmarkKey, takes.path().string());
    ASSERT_TRUE(control.begin(&speakers));
    EXPECT_FALSE(control.failure()) << "a take that starts clears the last refusal";
    EXPECT_FALSE(control.begin(&speakers));
    control.openTake();
    EXPECT_EQ(control.scopedRecordingFolder(), std::optional<fs::path>(takes.path()));
    EXPECT_TRUE(control.end());
    EXPECT_FALSE(control.scopedRecordingFolder().has_value());
    EXPECT_EQ(control.recordingURL(), std::optional<fs::path>(takes.path())) << "the last take stays findable";
    EXPECT_FALSE(control.end()) << "nothing left to stop";

    // A chosen folder that is gone: the take goes to the default folder, and none is held.
    test::TempDir fallback;
    test::ScopedEnv fallbackMusic("XDG_MUSIC_DIR", fallback.path().c_str());
    world.defaults.set(RecordingFolder::kBookmarkKey, (takes.path() / "gone").string());
    ASSERT_TRUE(control.begin(&speakers));
    control.openTake();
    EXPECT_FALSE(control.scopedRecordingFolder().has_value());
    EXPECT_EQ(control.recordingURL(), std::optional<fs::path>(fallback.path() / "OREVANT"));
    control.end();
}

// Faults: a lane at its size ceiling or on a full disk let the take go on (with a failure
// logged every 250 ms per lane), or closed only its own file.
TEST(RecordingLaneLimitTest, ALaneThatCannotWriteOnEndsTheWholeTakeOnce) {
    RecordingLaneOptions ceiling;
    ceiling.sizeCeilingBytes = 48000 * 8; // one second of stereo float
    RecordingLaneOptions fullDisk;
    fullDisk.fileOpener = [](const std::filesystem::path& path, double rate) -> std::unique_ptr<AudioFile> {
        // The three seconds of pre-roll and half a second of the take fit.
        return std::make_unique<FillingFile>(openWavFile(path, rate), static_cast<int64_t>(rate * 3.5));
    };
    for (const RecordingLaneOptions* options : {&ceiling, &fullDisk}) {
        RecordingWorld fixture;
        test::EngineFixture& world = fixture.world;
        world.addOutputDevice("speakers", "Speakers");
        world.addApp("com.example.music", "Music", 440.0);
        world.addApp("com.example.voice", "Voice", 220.0);
        MixerEngine& engine = fixture.startEngine(*options);
        engine.startRecording();
        ASSERT_TRUE(engine.isRecording());
        world.runAudio(3.0);
        EXPECT_FALSE(engine.isRecording()) << "stopped through the current engine";
        EXPECT_FALSE(fixture.recorder->isCapturing());
        EXPECT_EQ(wavFiles(fixture.takes.path()).size(), 2u) << "what reached the disk is kept";
        EXPECT_LE(world.logs->count("Recording write failed", LogLevel::error), 2u) << "one line per lane at most";
        if (options == &fullDisk) {
            ASSERT_TRUE(fixture.recorder->takeFailure());
            EXPECT_NE(fixture.recorder->takeFailure()->find("No space left on device"), std::string::npos);
        }
    }
}

} // namespace
} // namespace orevant
