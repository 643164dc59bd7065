// Two real copies of a program meet at the single-instance lock. The test binary doubles as the
// program: started with OREVANT_TEST_ROLE set, it runs the agent's check and reports on stdout.
#include "app/single_instance_check.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orevant {
namespace {

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// "holder": takes the lock, says so, and keeps it until its stdin closes.
// "second": runs the check once and exits as the agent would (status 0 either way).
// OREVANT_TEST_RECORDED_PATH replaces the recorded executable path ("-" records none).
[[noreturn]] void runChildRole(const std::string& role) {
    std::string path = SingleInstanceLock::currentExecutablePath();
    if (const char* recorded = std::getenv("OREVANT_TEST_RECORDED_PATH")) path = recorded[0] == '-' ? "" : recorded;
    auto result = SingleInstanceCheck::run(SingleInstanceLock::defaultPath(SingleInstanceCheck::kLockName), path);
    if (result.alert) {
        writeAll(1, "alert\n" + result.alert->messageText + "\n" + result.alert->informativeText + "\n");
        ::_exit(0);
    }
    writeAll(1, std::string(result.lock && result.lock->isHeld() ? "running" : "unchecked") + "\n");
    if (role == "holder") {
        char byte;
        while (::read(0, &byte, 1) > 0) {}
    }
    ::_exit(0);
}

[[maybe_unused]] const bool childRoleHandled = [] {
    if (const char* role = std::getenv("OREVANT_TEST_ROLE")) runChildRole(role);
    return false;
}();

// `runtimeDir` empty: XDG_RUNTIME_DIR unset, and HOME is `home`.
test::ChildProcess spawn(const std::filesystem::path& program, const std::string& role, const std::string& runtimeDir,
                         const char* recordedPath = nullptr, const std::string& home = {}) {
    std::vector<std::string> env = {"OREVANT_TEST_ROLE=" + role, "OREVANT_TEST_RECORDED_PATH", "XDG_RUNTIME_DIR"};
    if (recordedPath) env.push_back(std::string("OREVANT_TEST_RECORDED_PATH=") + recordedPath);
    if (!runtimeDir.empty()) env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
    if (!home.empty()) env.insert(env.end(), {"HOME=" + home, "XDG_CACHE_HOME"});
    return test::ChildProcess({program.string()}, env);
}

const std::string kLockName = SingleInstanceCheck::kLockName;

// What a copy turned away by one running from `where` says.
std::string turnedAway(const std::string& where) {
    return "alert\nOREVANT is already running\nAnother copy is running from " + where + ".\n";
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        self = SingleInstanceLock::currentExecutablePath();
        ASSERT_FALSE(self.empty());
        // A second copy of the program at another path, as when two builds are started.
        std::filesystem::create_directories(dir / "elsewhere");
        otherCopy = dir / "elsewhere" / "orevant-copy";
        std::filesystem::copy_file(self, otherCopy);
        std::filesystem::permissions(otherCopy, std::filesystem::perms::owner_all);
        std::filesystem::create_directories(dir / "runtime");
        runtime = (dir / "runtime").string();
    }

    test::TempDir dir;
    std::filesystem::path self;
    std::filesystem::path otherCopy;
    std::string runtime;
};

// What a second copy does while a first one holds (or held) the lock. Faults: a copy turned away
// released the lock, so a third one ran; a lock outlived the copy that held it.
TEST_F(SingleInstanceTest, ASecondCopyIsTurnedAwayOnlyByALiveCopyInTheSameSession) {
    { std::ofstream(dir / "plain-file") << "x"; }
    std::filesystem::create_directories(dir / "other-session");
    struct Case {
        const char* what;
        const char* firstRecordedPath;
        bool killFirst;
        std::string secondRuntime;
        std::string said;
    };
    const Case cases[] = {
        {"a live copy", nullptr, false, runtime, turnedAway(otherCopy.string())},
        {"a copy whose location is unknown", "-", false, runtime, turnedAway("another location")},
        {"a killed copy leaves no stale lock", nullptr, true, runtime, "running\n"},
        {"copies in different sessions do not meet", nullptr, false, (dir / "other-session").string(), "running\n"},
        {"an unopenable lock skips the check", nullptr, false, (dir / "plain-file" / "folder").string(), "unchecked\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto first = spawn(otherCopy, "holder", runtime, c.firstRecordedPath);
        ASSERT_EQ(first.readLine(), "running");
        if (c.killFirst) {
            ASSERT_EQ(::kill(first.pid(), SIGKILL), 0);
            EXPECT_EQ(first.wait(), -1);
        }
        for (int start = 0; start < 2; ++start) {
            auto second = spawn(self, "second", c.secondRuntime);
            EXPECT_EQ(second.readAll(), c.said);
            EXPECT_EQ(second.wait(), 0);
        }
        if (!c.killFirst) {
            EXPECT_EQ(first.wait(), 0);
        }
        EXPECT_EQ(spawn(self, "second", runtime).readAll(), "running\n") << "once the first copy has ended";
    }
}

// Faults: a directory or a link at the lock's place made the check fail open, so a second copy
// ran; without XDG_RUNTIME_DIR the lock lay in /tmp, where another user could make it first.
TEST_F(SingleInstanceTest, NothingPutAtTheLocksPlaceLetsASecondCopyRun) {
    std::filesystem::create_directories(dir / "elsewhere-folder");
    for (const std::string put : {"an open folder", "a link to a folder", "a file", "no runtime folder"}) {
        SCOPED_TRACE(put);
        test::TempDir place; // the runtime folder, or without one the home folder
        const bool noRuntime = put == "no runtime folder";
        const auto lockPath = noRuntime ? place / ".cache" / kLockName : place / kLockName;
        if (put == "an open folder") {
            std::filesystem::create_directory(lockPath);
            ::chmod(lockPath.c_str(), 0777);
        } else if (put == "a link to a folder") {
            std::filesystem::create_symlink(dir / "elsewhere-folder", lockPath);
        } else if (put == "a file") {
            std::ofstream(lockPath) << "someone else's text\n";
        }
        const std::string runtimeDir = noRuntime ? "" : place.path().string();
        const std::string home = noRuntime ? place.path().string() : "";
        auto first = spawn(otherCopy, "holder", runtimeDir, nullptr, home);
        EXPECT_EQ(first.readLine(), "running");
        EXPECT_EQ(spawn(self, "second", runtimeDir, nullptr, home).readAll(), turnedAway(otherCopy.string()));
        EXPECT_EQ(first.wait(), 0);
        struct stat info {};
        ASSERT_EQ(::lstat(lockPath.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
}

} // namespace
} // namespace orevant
