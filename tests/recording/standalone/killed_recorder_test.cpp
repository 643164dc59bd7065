// A recording process killed in the middle of a take leaves WAV files that play, holding every
// frame that had been drained to them.
#include "platform/manual_main_queue.h"
#include "recording/mix_recorder.h"
#include "recording/recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orevant {
namespace {

using test::readWav;
using test::SharedQueueRef;

// Runs in the child: records three sources for a while, reports the file names and frames
// drained so far on `report`, then waits on `hold` to be killed.
[[noreturn]] void recordUntilKilled(const std::filesystem::path& folder, int report, int hold) {
    ManualMainQueue queue;
    MixRecorder recorder(queue, queue.hostClock(),
                         [&queue](const std::string&) { return std::make_unique<SharedQueueRef>(queue); });
    const std::map<std::string, float> levels{{"Player", 0.5f}, {"Browser", 0.25f}, {"Synth", -0.125f}};
    std::vector<std::pair<std::shared_ptr<RecordingLane>, test::LaneWriter>> sources;
    for (const auto& [name, level] : levels) sources.push_back({recorder.lane("com.example." + name, name), {}});
    recorder.startCapture(48000.0);
    recorder.openTake(folder, "2025-03-14 09.05.27");
    std::vector<float> buffer(480 * 2);
    for (int cycle = 0; cycle < 600; ++cycle) { // six seconds
        for (auto& [lane, writer] : sources) {
            std::fill(buffer.begin(), buffer.end(), levels.at(lane->sourceName()));
            writer.write(*lane, buffer.data(), 480, 2);
        }
        queue.advance(0.01);
    }
    std::string text;
    for (auto& [lane, writer] : sources)
        text += lane->url()->filename().string() + "\t" + std::to_string(lane->clipFrames()) + "\n";
    if (::write(report, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(2);
    ::close(report);
    char byte;
    while (::read(hold, &byte, 1) != 0) {}
    _exit(3); // never reached: the parent kills us first
}

TEST(KilledRecorderTest, EveryFileLeftBehindPlaysUpToItsLastDrain) {
    test::TempDir dir;
    int reportPipe[2], holdPipe[2];
    ASSERT_EQ(::pipe(reportPipe), 0);
    ASSERT_EQ(::pipe(holdPipe), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(reportPipe[0]);
        ::close(holdPipe[1]);
        recordUntilKilled(dir.path(), reportPipe[1], holdPipe[0]);
    }
    ::close(reportPipe[1]);
    ::close(holdPipe[0]);

    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(reportPipe[0], chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    ::close(reportPipe[0]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(holdPipe[1]);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended on its own: " << status;

    const std::map<std::string, float> levels{{"OREVANT 2025-03-14 09.05.27 Player.wav", 0.5f},
                                              {"OREVANT 2025-03-14 09.05.27 Browser.wav", 0.25f},
                                              {"OREVANT 2025-03-14 09.05.27 Synth.wav", -0.125f}};
    size_t files = 0;
    std::istringstream lines(text);
    std::string name;
    for (int64_t drained = 0; std::getline(lines, name, '\t') && lines >> drained; lines.ignore(1)) {
        ++files;
        ASSERT_TRUE(levels.count(name)) << name;
        // Three seconds of pre-roll silence, then five of the six seconds played.
        EXPECT_EQ(drained, 8 * 48000);
        auto wav = readWav(dir / name);
        ASSERT_TRUE(wav) << name << " does not open";
        EXPECT_EQ(wav->channels, 2);
        EXPECT_EQ(wav->sampleRate, 48000);
        ASSERT_EQ(wav->frames(), drained) << name;
        for (int64_t k = 0; k < wav->frames(); ++k)
            ASSERT_EQ(wav->left(k), k < 3 * 48000 ? 0.0f : levels.at(name)) << name << " frame " << k;
    }
    EXPECT_EQ(files, 3u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 3);
}

} // namespace
} // namespace orevant
