#include "recording/recording_lane.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "recording/wav_file.h"
#include "recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace orevant {
namespace {

using test::LaneWriter;
using test::readWav;
using test::SharedQueueRef;
using test::TempDir;

constexpr double kRate = 48000.0;
constexpr uint32_t kCycleFrames = 480; // 10 ms at 48 kHz: whole nanoseconds on the virtual clock

// Each frame's left sample is its time-line frame + 1 and its right sample the negative of that,
// so a file read back tells exactly which frame of the time line every sample came from.
float markOf(int64_t frame) { return static_cast<float>(frame + 1); }
void fillMarked(std::vector<float>& buffer, int64_t from, float scale = 1.0f) {
    for (size_t i = 0; i < buffer.size() / 2; ++i) {
        buffer[2 * i] = scale * markOf(from + static_cast<int64_t>(i));
        buffer[2 * i + 1] = -buffer[2 * i];
    }
}

class RecordingLaneTest : public ::testing::Test {
protected:
    std::unique_ptr<RecordingLane> makeLane(const std::string& name, RecordingLaneOptions options = {}) {
        return std::make_unique<RecordingLane>(name, queue.hostClock(), queue, std::make_unique<SharedQueueRef>(queue),
                                               std::move(options));
    }
    // A lane capturing at 48 kHz from now, with a file open from frame 0 when `file` is given.
    std::unique_ptr<RecordingLane> capturing(const char* file = nullptr, RecordingLaneOptions options = {}) {
        auto lane = makeLane("Player", std::move(options));
        lane->startCapture(queue.hostClock().ticks(), kRate);
        if (file) lane->openFile(dir / file, 0);
        return lane;
    }

    // Plays `seconds` of marked audio through `writer`, one 10 ms cycle at a time, the clock
    // moving with the audio.
    void playMarked(RecordingLane& lane, LaneWriter& writer, double seconds, float scale = 1.0f) {
        const int cycles = static_cast<int>(std::lround(seconds * kRate / kCycleFrames));
        std::vector<float> buffer(kCycleFrames * 2);
        for (int c = 0; c < cycles; ++c) {
            if (lane.armed() && lane.generation() != writer.seenGeneration) {
                writer.seenGeneration = lane.generation();
                writer.cursor = lane.currentFrame();
            }
            fillMarked(buffer, writer.cursor, scale);
            writer.write(lane, buffer.data(), kCycleFrames, 2);
            queue.advance(static_cast<double>(kCycleFrames) / kRate);
        }
    }

    // Expects the file to hold marked frames of the time line starting at `firstFrame`, with
    // silence wherever the time line has no audio (negative frames and `silentUntil`).
    void expectTimeLine(const test::WavContents& wav, int64_t firstFrame, int64_t silentUntil = 0) {
        for (int64_t k = 0; k < wav.frames(); ++k) {
            const int64_t frame = firstFrame + k;
            const float expected = frame < silentUntil ? 0.0f : markOf(frame);
            if (wav.left(k) != expected || wav.right(k) != -expected) {
                ADD_FAILURE() << "file frame " << k << " (time line " << frame << ") holds " << wav.left(k) << "/"
                              << wav.right(k) << ", expected " << expected;
                return;
            }
        }
    }

    ManualMainQueue queue;
    TempDir dir;
    ScopedLogCapture logs;
};

TEST_F(RecordingLaneTest, WriteTakesFramesOnlyWhileArmedOnTheClocksFrameAndGuardsItsInput) {
    auto lane = makeLane("Player");
    const float stereo[4] = {0.5f, -0.25f, 0.1f, 0.2f};
    EXPECT_EQ(lane->write(stereo, sizeof stereo, 2, 0, 0), 0) << "not capturing";

    queue.advance(2.0);
    lane->startCapture(queue.hostClock().ticks(), kRate);
    EXPECT_EQ(lane->currentFrame(), 0) << "the host clock counts from the capture start";
    queue.advance(1.5);
    EXPECT_EQ(lane->currentFrame(), 72000);
    queue.advance(1.0 / 96000.0); // half a frame rounds up
    EXPECT_EQ(lane->currentFrame(), 72001);
    EXPECT_EQ(lane->generation(), 1);
    EXPECT_EQ(lane->preRollCapacity(), 144000);
    EXPECT_EQ(lane->write(stereo, sizeof stereo, 2, 0, 100), 2);
    EXPECT_EQ(lane->highWater(), 102);
    EXPECT_FLOAT_EQ(lane->signalPeak(), 0.5f);
    EXPECT_EQ(lane->lastSignalFrame(), 101);

    // Short or bad input takes nothing and reads nothing past the buffer (the high-water mark
    // moves only where the frame position was valid).
    struct Bad {
        const float* samples;
        uint32_t bytes, channels, offset;
        int64_t at, highWater;
    };
    const Bad bad[] = {{stereo, 4, 2, 0, 500, 500},
                       {stereo, sizeof stereo, 0, 0, 600, 500},
                       {stereo, sizeof stereo, 2, 0, -1, 500},
                       {stereo, sizeof stereo, 2, 2, 600, 600},
                       {nullptr, sizeof stereo, 2, 0, 600, 600}};
    for (const Bad& b : bad) {
        SCOPED_TRACE(testing::Message() << b.bytes << " bytes, " << b.channels << " ch, offset " << b.offset);
        EXPECT_EQ(lane->write(b.samples, b.bytes, b.channels, b.offset, b.at), 0);
        EXPECT_EQ(lane->highWater(), b.highWater);
    }

    // Signal at the threshold is not signal; just above it is.
    const float atThreshold[2] = {0.0001f, 0.0f}, above[2] = {0.0f, -0.00011f};
    lane->write(atThreshold, sizeof atThreshold, 2, 0, 700);
    EXPECT_EQ(lane->lastSignalFrame(), 101);
    lane->write(above, sizeof above, 2, 0, 800);
    EXPECT_EQ(lane->lastSignalFrame(), 800);

    // Starting again while capturing changes nothing; a new capture is a new generation.
    lane->startCapture(queue.hostClock().ticks(), kRate);
    EXPECT_EQ(lane->generation(), 1);
    lane->stopCapture();
    EXPECT_EQ(lane->write(stereo, sizeof stereo, 2, 0, 0), 0);
    lane->startCapture(queue.hostClock().ticks(), 44100.0);
    EXPECT_EQ(lane->generation(), 2);
    EXPECT_EQ(lane->highWater(), 0);
    EXPECT_EQ(lane->preRollCapacity(), 132300);
}

TEST_F(RecordingLaneTest, FilesAreFloatStereoAtTheLaneRateMonoOnBothSidesAndAPairPickedFromWiderBuffers) {
    auto lane = makeLane("Mono");
    lane->startCapture(queue.hostClock().ticks(), 44100.0);
    lane->openFile(dir / "mono.wav", 0);
    const float mono[3] = {0.1f, 0.2f, 0.3f};
    EXPECT_EQ(lane->write(mono, sizeof mono, 1, 0, 0), 3);
    const float quad[8] = {9, 9, 0.4f, -0.4f, 9, 9, 0.5f, -0.5f}; // the pair at offset 2
    EXPECT_EQ(lane->write(quad, sizeof quad, 4, 2, 3), 2);
    const float three[3] = {9, 9, 0.6f}; // no right channel in the frame: the left twice
    EXPECT_EQ(lane->write(three, sizeof three, 3, 2, 5), 1);
    lane->closeFile();

    auto wav = readWav(dir / "mono.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(wav->sampleRate, 44100);
    EXPECT_EQ(lane->bytesWritten(), 6 * 8);
    ASSERT_EQ(wav->channels, 2);
    ASSERT_EQ(wav->frames(), 6);
    const float left[6] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
    const float right[6] = {0.1f, 0.2f, 0.3f, -0.4f, -0.5f, 0.6f};
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(wav->left(i), left[i]) << i;
        EXPECT_FLOAT_EQ(wav->right(i), right[i]) << i;
    }
}

// A file opened at "now minus the pre-roll" holds the time line from that frame: the audio still
// in the pre-roll, silence where the time line had none.
TEST_F(RecordingLaneTest, AFileOpenedLateStartsThreeSecondsEarlierOnTheTimeLine) {
    struct Case {
        const char* name;
        double quiet, played, after; // seconds without audio, with audio, then with the file open
    };
    const Case cases[] = {
        {"ten and a half seconds in: the whole pre-roll, wrapped", 0.0, 10.5, 2.0},
        {"one second in: two seconds of silence first", 0.0, 1.0, 3.0},
        {"source starting late: silence until it plays", 20.0, 0.0, 2.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto lane = capturing();
        LaneWriter writer;
        queue.advance(c.quiet);
        playMarked(*lane, writer, c.played);
        const int64_t startFrame = lane->currentFrame() - 144000;
        ASSERT_EQ(startFrame, std::lround((c.quiet + c.played) * kRate) - 144000);
        const auto path = dir / (std::to_string(&c - cases) + ".wav");
        lane->openFile(path, startFrame);
        EXPECT_EQ(lane->clipFrames(), std::max<int64_t>(lane->drainedUpTo() - startFrame, 0))
            << "the pre-roll goes into the file at once";
        playMarked(*lane, writer, c.after);
        lane->closeFile();
        EXPECT_EQ(lane->clipStartFrame(), startFrame);

        auto wav = readWav(path);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->frames(), 144000 + std::lround(c.after * kRate));
        expectTimeLine(*wav, startFrame, std::lround(c.quiet * kRate));
    }
}

// The header is current after every drain (a crash leaves a readable file), and stopping the
// capture drains the last second that the periodic drain keeps behind.
TEST_F(RecordingLaneTest, TheOpenFileIsCurrentAfterEveryDrainAndStoppingKeepsTheLastSecond) {
    auto lane = capturing("stop.wav");
    LaneWriter writer;
    playMarked(*lane, writer, 5.0);
    EXPECT_LE(lane->drainedUpTo(), 4 * 48000) << "the periodic drain stays a second behind";
    auto open = readWav(dir / "stop.wav");
    auto sizes = test::readWavSizes(dir / "stop.wav");
    ASSERT_TRUE(open && sizes && lane->clipFrames() > 0);
    EXPECT_EQ(open->frames(), lane->clipFrames());
    EXPECT_EQ(sizes->dataBytes, static_cast<uint64_t>(lane->bytesWritten()));
    EXPECT_EQ(sizes->riffBytes + 8, std::filesystem::file_size(dir / "stop.wav"));
    lane->stopCapture();

    EXPECT_FALSE(lane->hasFile());
    auto wav = readWav(dir / "stop.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->frames(), 5 * 48000);
    expectTimeLine(*wav, 0);
    EXPECT_EQ(queue.pendingCount(), 0u) << "the drain timer is gone";
}

TEST_F(RecordingLaneTest, TwoWritersOnTheSameFramesAreSummed) {
    auto lane = capturing("sum.wav");
    LaneWriter first, second;
    std::vector<float> a(kCycleFrames * 2, 0.25f), b(kCycleFrames * 2, 0.5f);
    for (int c = 0; c < 100; ++c) {
        first.write(*lane, a.data(), kCycleFrames, 2);
        second.write(*lane, b.data(), kCycleFrames, 2);
        queue.advance(0.01);
    }
    lane->closeFile();
    auto wav = readWav(dir / "sum.wav");
    ASSERT_TRUE(wav);
    ASSERT_EQ(wav->frames(), 100 * kCycleFrames);
    for (int64_t k = 0; k < wav->frames(); ++k) {
        ASSERT_FLOAT_EQ(wav->left(k), 0.75f) << k;
        ASSERT_FLOAT_EQ(wav->right(k), 0.75f) << k;
    }
}

// Signal before the opening (in the pre-roll) does not count; one sample above the threshold does.
TEST_F(RecordingLaneTest, AFileWithoutSignalAfterItOpenedIsDiscarded) {
    for (bool faint : {false, true}) {
        auto lane = capturing();
        LaneWriter writer;
        playMarked(*lane, writer, 2.0);
        const auto path = dir / (faint ? "faint.wav" : "silent.wav");
        lane->openFile(path, lane->currentFrame() - 144000);
        playMarked(*lane, writer, 1.0, 0.0f);
        const float one[2] = {0.00011f, 0.0f};
        if (faint) lane->write(one, sizeof one, 2, 0, writer.cursor);
        lane->closeFile();
        lane->discardIfSilent();
        EXPECT_EQ(std::filesystem::exists(path), faint) << path;
        EXPECT_EQ(lane->url(), faint ? std::optional(path) : std::nullopt) << path;
    }
}

TEST_F(RecordingLaneTest, ADrainFarBehindSkipsOverwrittenFramesAndKeepsTheFileOnTheTimeLine) {
    auto lane = capturing("behind.wav");
    // 500,000 frames arrive while the writer queue gets no turn: the oldest 116,000 have been
    // overwritten by the time the drain runs.
    LaneWriter writer;
    std::vector<float> buffer(500 * 2);
    for (int c = 0; c < 1000; ++c) {
        fillMarked(buffer, writer.cursor);
        writer.write(*lane, buffer.data(), 500, 2);
    }
    queue.advance(0.25);
    EXPECT_EQ(lane->drainedUpTo(), 500000 - 48000);
    EXPECT_EQ(lane->clipFrames(), 500000 - 48000);
    lane->closeFile();

    auto wav = readWav(dir / "behind.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->frames(), 500000);
    // What was overwritten is silence; the rest is in place, from the oldest frame still held.
    // (The newest frames share their slots with undrained frames one ring length older, and
    // hold both.)
    for (int64_t k = 0; k < wav->frames(); ++k) {
        float expected = 0.0f;
        if (k >= 500000 - RecordingLane::kRingFrames) expected += markOf(k);
        if (k >= RecordingLane::kRingFrames) expected += markOf(k - RecordingLane::kRingFrames);
        ASSERT_EQ(wav->left(k), expected) << k;
        ASSERT_EQ(wav->right(k), -expected) << k;
    }
}

TEST_F(RecordingLaneTest, AFileThatCannotBeCreatedLeavesTheLaneCapturingAndALaterFileHoldsNoStaleAudio) {
    auto lane = capturing();
    LaneWriter writer;
    EXPECT_THROW(lane->openFile(dir / "missing" / "x.wav", 0), AudioFileError);
    EXPECT_FALSE(lane->hasFile());
    EXPECT_FALSE(lane->url().has_value());
    { std::ofstream(dir / "taken.wav") << "keep me"; }
    try {
        lane->openFile(dir / "taken.wav", 0);
        ADD_FAILURE() << "opened over an existing file";
    } catch (const AudioFileError& error) {
        EXPECT_EQ(error.code(), std::errc::file_exists);
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "taken.wav"), 7u);

    // Still capturing into the pre-roll: a file opened now gets the earlier audio.
    playMarked(*lane, writer, 4.0);
    lane->openFile(dir / "after.wav", lane->currentFrame() - 144000);
    lane->closeFile();
    EXPECT_EQ(readWav(dir / "after.wav")->frames(), 3 * 48000);

    // A file opened soon after: the frames that went to the earlier file are silence in this one,
    // never stale audio left in the pre-roll.
    playMarked(*lane, writer, 1.0);
    lane->openFile(dir / "second.wav", lane->currentFrame() - 144000);
    playMarked(*lane, writer, 1.0);
    lane->closeFile();
    auto wav = readWav(dir / "second.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->frames(), 4 * 48000);
    expectTimeLine(*wav, 2 * 48000, 4 * 48000);
}

// A real WAV file whose writes after the first four get half their frames to the disk.
class FillingFile final : public AudioFile {
public:
    FillingFile(std::unique_ptr<AudioFile> inner, int& writes) : inner_(std::move(inner)), writes_(writes) {}
    int64_t writeFrames(const float* interleaved, int64_t frames) override {
        return inner_->writeFrames(interleaved, ++writes_ > 4 ? frames / 2 : frames);
    }
    std::string lastError() const override { return "No space left on device"; }

private:
    std::unique_ptr<AudioFile> inner_;
    int& writes_;
};

// Fault: a full disk logged a failure every 250 ms per lane and the take went on. The first
// failed write is said once, asks once for the take to stop, and the file keeps what it got.
TEST_F(RecordingLaneTest, AFailedWriteIsSaidOnceAsksForTheTakeToStopAndTheFileKeepsItsFrames) {
    int writes = 0;
    RecordingLaneOptions options;
    options.fileOpener = [&](const std::filesystem::path& path, double rate) -> std::unique_ptr<AudioFile> {
        return std::make_unique<FillingFile>(openWavFile(path, rate), writes);
    };
    std::vector<std::string> reports;
    options.onWriteFailure = [&](const std::string& message) { reports.push_back(message); };
    auto lane = capturing("full.wav", options);
    LaneWriter writer;
    playMarked(*lane, writer, 4.0);
    lane->closeFile();

    EXPECT_TRUE(lane->writeFailed());
    EXPECT_EQ(writes, 5) << "no write was tried after the first failure";
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("full.wav: No space left on device"), std::string::npos) << reports[0];
    EXPECT_EQ(logs->count("Recording write failed", LogLevel::error), 1u);
    auto wav = readWav(dir / "full.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->frames(), lane->clipFrames());
    for (int64_t k = 0; k < wav->frames(); ++k) ASSERT_EQ(wav->left(k), markOf(k)) << "frame " << k;

    // The next file starts afresh.
    lane->openFile(dir / "next.wav", lane->currentFrame());
    EXPECT_FALSE(lane->writeFailed());
    lane->closeFile();
}

// At the ceiling the lane asks for the take to stop on every drain until it closes (without a
// handler it only says so), and the file keeps every frame drained; a later file starts below
// the ceiling again.
TEST_F(RecordingLaneTest, TheSizeCeilingAsksForTheTakeToStopAndTheFileKeepsItsFrames) {
    for (bool handled : {true, false}) {
        SCOPED_TRACE(handled ? "the take closes on request" : "no handler registered");
        logs->clear();
        RecordingLaneOptions options;
        options.sizeCeilingBytes = 8 * 48000; // one second of audio
        int stopRequests = 0;
        RecordingLane* lanePtr = nullptr;
        if (handled) {
            options.onSizeCeiling = [&] {
                ++stopRequests;
                lanePtr->closeFile();
            };
        }
        auto lane = makeLane("Player", options);
        lanePtr = lane.get();
        LaneWriter writer;
        lane->startCapture(queue.hostClock().ticks(), kRate);
        const auto path = dir / (handled ? "closed.wav" : "open.wav");
        lane->openFile(path, 0);
        playMarked(*lane, writer, 1.75);
        EXPECT_FALSE(lane->stoppedAtSizeLimit()) << "0.75 s drained so far";
        playMarked(*lane, writer, 1.0);
        EXPECT_TRUE(lane->stoppedAtSizeLimit());
        EXPECT_EQ(lane->hasFile(), !handled);
        EXPECT_EQ(stopRequests, handled ? 1 : 0);
        const size_t said = logs->count("Recording reached WAV's 4 GB ceiling; closing the take", LogLevel::error);
        EXPECT_TRUE(handled ? said == 1u : said >= 2u) << said;
        lane->closeFile();
        auto wav = readWav(path);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->frames(), lane->clipFrames());
        EXPECT_GE(wav->frames(), 48000);
        expectTimeLine(*wav, 0);

        lane->openFile(dir / ("next-" + path.filename().string()), lane->currentFrame());
        EXPECT_FALSE(lane->stoppedAtSizeLimit());
        lane->closeFile();
    }
}

TEST_F(RecordingLaneTest, DestroyingACapturingLaneClosesItsFile) {
    {
        auto lane = capturing("destroyed.wav");
        LaneWriter writer;
        playMarked(*lane, writer, 1.5);
    }
    queue.advance(1.0); // a drain scheduled before the lane went must not touch it
    auto wav = readWav(dir / "destroyed.wav");
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->frames(), 72000);
}

} // namespace
} // namespace orevant
