// A take on a disk that fills up: a 2 MB tmpfs in a private mount namespace (root only; the
// test is skipped otherwise). The child process records into it; the parent reads its report.
#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "recording/mix_recorder.h"
#include "recording/recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace orevant {
namespace {

using test::SharedQueueRef;

// Runs in the child: records two sources for ten seconds into `folder` on a 2 MB tmpfs and
// writes "<log lines of failed writes>\t<take still open>\t<stop requests>\t<reason>" to `report`.
[[noreturn]] void recordOntoAFullDisk(const std::string& folder, int report) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=2m") != 0)
        _exit(2);
    ScopedLogCapture logs;
    ManualMainQueue queue;
    MixRecorder recorder(queue, queue.hostClock(),
                         [&queue](const std::string&) { return std::make_unique<SharedQueueRef>(queue); });
    int stops = 0;
    recorder.setSizeCeilingHandler([&] {
        ++stops;
        recorder.closeTake();
    });
    std::vector<std::pair<std::shared_ptr<RecordingLane>, test::LaneWriter>> sources;
    for (const char* name : {"Player", "Browser"}) sources.push_back({recorder.lane(name, name), {}});
    recorder.startCapture(48000.0);
    recorder.openTake(folder, "2025-03-14 09.05.27");
    std::vector<float> buffer(480 * 2, 0.25f);
    for (int cycle = 0; cycle < 1000; ++cycle) { // ten seconds, far more than 2 MB
        for (auto& [lane, writer] : sources) writer.write(*lane, buffer.data(), 480, 2);
        queue.advance(0.01);
    }
    const std::string text = std::to_string(logs->count("Recording write failed", LogLevel::error)) + "\t" +
                             std::to_string(recorder.isTakeOpen()) + "\t" + std::to_string(stops) + "\t" +
                             recorder.takeFailure().value_or("none");
    if (::write(report, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(3);
    ::umount(folder.c_str());
    _exit(0);
}

// Fault: a full disk logged "No space left on device" every 250 ms per lane and the take went on.
TEST(DiskFullTest, AFullDiskEndsTheTakeOnceWithItsReason) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    test::TempDir dir;
    int reportPipe[2];
    ASSERT_EQ(::pipe(reportPipe), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(reportPipe[0]);
        recordOntoAFullDisk(dir.path().string(), reportPipe[1]);
    }
    ::close(reportPipe[1]);
    std::string report;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(reportPipe[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(n));
    ::close(reportPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no private mount namespace here";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    std::vector<std::string> fields;
    std::istringstream in(report);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 4u) << report;
    EXPECT_LE(std::stoi(fields[0]), 2) << "at most one line per lane, not one per drain";
    EXPECT_GE(std::stoi(fields[0]), 1);
    EXPECT_EQ(fields[1], "0") << "the take was ended";
    EXPECT_EQ(fields[2], "1") << "one request to stop";
    EXPECT_NE(fields[3].find("No space left on device"), std::string::npos) << fields[3];
}

} // namespace
} // namespace orevant
