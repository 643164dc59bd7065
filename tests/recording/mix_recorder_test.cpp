#include "recording/mix_recorder.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "recording/take_naming.h"
#include "recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <vector>

namespace orevant {
namespace {

using test::LaneWriter;
using test::readWav;
using test::SharedQueueRef;
using test::TempDir;

namespace fs = std::filesystem;

constexpr double kRate = 48000.0;
constexpr uint32_t kCycle = 480;
const std::string kStamp = "2025-03-14 09.05.27";

class MixRecorderTest : public ::testing::Test {
protected:
    MixRecorderTest()
        : recorder(queue, queue.hostClock(),
                   [this](const std::string&) { return std::make_unique<SharedQueueRef>(queue); }) {}

    struct Source {
        std::shared_ptr<RecordingLane> lane;
        LaneWriter writer;
        float level;
    };

    // Every source plays its constant level for `seconds`, in 10 ms cycles.
    void play(std::vector<Source*> sources, double seconds) {
        const int cycles = static_cast<int>(std::lround(seconds * kRate / kCycle));
        for (int c = 0; c < cycles; ++c) {
            for (auto* source : sources) {
                std::vector<float> buffer(kCycle * 2, source->level);
                source->writer.write(*source->lane, buffer.data(), kCycle, 2);
            }
            queue.advance(kCycle / kRate);
        }
    }

    std::vector<std::string> filesInFolder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ManualMainQueue queue;
    TempDir dir;
    ScopedLogCapture logs;
    MixRecorder recorder;
};

TEST(TakeNamingTest, FileNamesMakeSourceNamesSafeAndStampsUseLocalTime) {
    const std::pair<std::string, std::string> names[] = {{"Music Player", "Music Player"},
                                                         {"AC/DC: Live", "AC-DC- Live"},
                                                         {" \t Talk \t", "Talk"},
                                                         {"   ", "Source"},
                                                         {"", "Source"},
                                                         {"../../etc", "..-..-etc"}};
    for (const auto& [source, shown] : names)
        EXPECT_EQ(takeFileName(kStamp, source), "OREVANT 2025-03-14 09.05.27 " + shown + ".wav") << source;

    // 2025-03-14 09:05:27 UTC, seen from UTC and from two hours east of it.
    const auto when = std::chrono::system_clock::from_time_t(1741943127);
    for (const auto& [zone, stamp] : {std::pair{"UTC", "2025-03-14 09.05.27"}, {"XYZ-2", "2025-03-14 11.05.27"}}) {
        test::ScopedEnv tz("TZ", zone);
        tzset();
        EXPECT_EQ(makeTakeStamp(when), stamp);
    }
    tzset();
}

TEST_F(MixRecorderTest, ATakeRecordsEverySourceToItsOwnAlignedFileAndDropsTheSilentOnes) {
    Source player{recorder.lane("com.example.player", "Music Player"), {}, 0.5f};
    Source band{recorder.lane("com.example.band", "AC/DC: Live"), {}, 0.25f};
    Source quiet{recorder.lane("com.example.quiet", "Quiet"), {}, 0.0f};
    EXPECT_EQ(recorder.lane("com.example.player", "Renamed"), player.lane) << "one lane per key";

    queue.advance(7.0);
    recorder.startCapture(kRate);
    play({&player, &band, &quiet}, 5.0);
    EXPECT_EQ(recorder.maxHighWater(), 5 * 48000);

    recorder.openTake(dir.path(), kStamp);
    play({&player, &band, &quiet}, 2.0);
    recorder.closeTake();
    EXPECT_TRUE(recorder.isCapturing()) << "closing a take keeps capturing";

    EXPECT_EQ(filesInFolder(), (std::vector<std::string>{"OREVANT 2025-03-14 09.05.27 AC-DC- Live.wav",
                                                         "OREVANT 2025-03-14 09.05.27 Music Player.wav"}));
    for (auto* source : {&player, &band}) {
        auto wav = readWav(*source->lane->url());
        ASSERT_TRUE(wav);
        // From three seconds before the opening to the end: 5 s of 7 s played.
        EXPECT_EQ(wav->frames(), 5 * 48000);
        EXPECT_EQ(source->lane->clipStartFrame(), 2 * 48000);
        for (int64_t k = 0; k < wav->frames(); ++k) ASSERT_EQ(wav->left(k), source->level) << k;
    }

    recorder.stopCapture();
    EXPECT_EQ(player.lane->armed(), 0);
}

TEST_F(MixRecorderTest, OpenTakeNeedsACaptureKeepsTheFirstTakeOpenAndSurvivesALaneThatCannotOpen) {
    auto lane = recorder.lane("com.example.player", "Player");
    recorder.openTake(dir.path(), kStamp);
    EXPECT_FALSE(recorder.isTakeOpen());
    EXPECT_FALSE(lane->hasFile());
    EXPECT_TRUE(filesInFolder().empty());

    recorder.startCapture(kRate);
    recorder.openTake(dir.path(), kStamp);
    recorder.openTake(dir.path(), "2030-01-01 00.00.00");
    EXPECT_EQ(recorder.takeStamp(), kStamp);
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"OREVANT 2025-03-14 09.05.27 Player.wav"});

    // Stopping capture closes the take first.
    recorder.stopCapture();
    EXPECT_FALSE(recorder.isTakeOpen());
    EXPECT_FALSE(lane->hasFile());

    // A lane whose file cannot open is missing from the take only.
    recorder.startCapture(kRate);
    recorder.openTake(dir / "gone", kStamp);
    EXPECT_TRUE(recorder.isTakeOpen());
    EXPECT_FALSE(lane->hasFile());
}

TEST_F(MixRecorderTest, ALaneCreatedDuringATakeGetsItsFileAtOnceOnTheSharedTimeLine) {
    Source first{recorder.lane("com.example.first", "First"), {}, 0.5f};
    recorder.startCapture(kRate);
    play({&first}, 10.0);
    recorder.openTake(dir.path(), kStamp);
    play({&first}, 5.0);

    Source second{recorder.lane("com.example.second", "Second"), {}, 0.25f};
    EXPECT_TRUE(second.lane->hasFile());
    EXPECT_EQ(second.lane->armed(), 1);
    EXPECT_EQ(second.lane->clipStartFrame(), 12 * 48000) << "three seconds before its own start";
    play({&first, &second}, 2.0);
    recorder.closeTake();

    auto wav = readWav(*second.lane->url());
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->frames(), 5 * 48000);
    for (int64_t k = 0; k < wav->frames(); ++k) ASSERT_EQ(wav->left(k), k < 3 * 48000 ? 0.0f : 0.25f) << k;
    // Both files end on the same time-line frame.
    auto firstWav = readWav(*first.lane->url());
    ASSERT_TRUE(firstWav);
    EXPECT_EQ(first.lane->clipStartFrame() + firstWav->frames(), second.lane->clipStartFrame() + wav->frames());
    // The capture's length is the longest lane's.
    play({&first}, 0.5);
    EXPECT_EQ(second.lane->highWater(), 17 * 48000);
    EXPECT_EQ(recorder.maxHighWater(), 17 * 48000 + 24000);
}

TEST_F(MixRecorderTest, RemoveLaneClosesAndDiscardsAndStopsIt) {
    Source loud{recorder.lane("com.example.loud", "Loud"), {}, 0.5f};
    Source quiet{recorder.lane("com.example.quiet", "Quiet"), {}, 0.0f};
    recorder.startCapture(kRate);
    recorder.openTake(dir.path(), kStamp);
    play({&loud, &quiet}, 2.0);
    recorder.removeLane("com.example.loud");
    recorder.removeLane("com.example.quiet");
    recorder.removeLane("com.example.absent");
    EXPECT_TRUE(recorder.lanes().empty());
    EXPECT_EQ(recorder.maxHighWater(), 0);
    EXPECT_EQ(loud.lane->armed(), 0);
    EXPECT_FALSE(loud.lane->hasFile());
    EXPECT_EQ(filesInFolder(), std::vector<std::string>{"OREVANT 2025-03-14 09.05.27 Loud.wav"});
    EXPECT_EQ(readWav(*loud.lane->url())->frames(), 5 * 48000);
}

// Fault: a 300-character name was not recorded at all (too long for the file system), a NUL cut
// ".wav" off, newlines and tabs reached file names, a name already taken was overwritten. Every
// source is recorded, to a file of its own.
TEST_F(MixRecorderTest, EverySourceIsRecordedToANewFileWhateverItsNameHolds) {
    { std::ofstream(dir / "OREVANT 2025-03-14 09.05.27 Player.wav") << "older take"; }
    std::string accented = "x"; // so that a cut at the byte limit would fall inside a character
    for (int i = 0; i < 300; ++i) accented += "\xc3\xa9"; // é, two bytes each
    const std::string names[] = {std::string(300, 'a'),  accented, std::string("Web\0Radio", 9),
                                 "Line\nBreak\tTab\x7f", "Player", "Player"};
    std::vector<Source> sources;
    sources.reserve(std::size(names));
    for (size_t i = 0; i < std::size(names); ++i)
        sources.push_back({recorder.lane("com.example." + std::to_string(i), names[i]), {}, 0.1f * float(i + 1)});
    recorder.startCapture(kRate);
    recorder.openTake(dir.path(), kStamp);
    std::vector<Source*> playing;
    for (auto& source : sources) playing.push_back(&source);
    play(playing, 1.0);
    recorder.closeTake();

    for (const Source& source : sources) {
        ASSERT_TRUE(source.lane->url());
        const std::string name = source.lane->url()->filename().string();
        EXPECT_LE(name.size(), kMaxTakeFileNameBytes) << name;
        EXPECT_TRUE(name.ends_with(".wav")) << name;
        for (char c : name) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << name;
        auto wav = readWav(*source.lane->url());
        ASSERT_TRUE(wav) << name;
        EXPECT_EQ(wav->left(3 * 48000), source.level) << name;
    }
    const std::string prefix = "OREVANT " + kStamp + " ";
    const std::string shown[] = {"Web-Radio.wav", "Line-Break-Tab-.wav", "Player 2.wav", "Player 3.wav"};
    for (size_t i = 0; i < std::size(shown); ++i) EXPECT_EQ(sources[i + 2].lane->url()->filename(), prefix + shown[i]);
    EXPECT_EQ(fs::file_size(dir / (prefix + "Player.wav")), 10u);
    // Shortened on a character boundary: only whole two-byte characters remain.
    const std::string kept = sources[1].lane->url()->filename().string().substr(prefix.size());
    ASSERT_GT(kept.size(), 100u);
    EXPECT_EQ(kept.substr(kept.size() - 6), "\xc3\xa9.wav") << "the last character is whole";
}

} // namespace
} // namespace orevant
