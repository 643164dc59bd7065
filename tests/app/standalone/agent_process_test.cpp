// The real agent program, started as a user would (`orevant --headless --quiet --backend sim`)
// in a private home, and ended by the signals a terminal, a logout or a pipeline sends it.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace orevant {
namespace {

using Clock = std::chrono::steady_clock;

class Agent {
public:
    explicit Agent(const std::filesystem::path& home) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const char* name :
                 {"HOME=", "XDG_CONFIG_HOME=", "XDG_RUNTIME_DIR=", "XDG_MUSIC_DIR=", "XDG_CACHE_HOME="})
                replaced = replaced || entry.rfind(name, 0) == 0;
            if (!replaced) env.push_back(entry);
        }
        std::filesystem::create_directories(home / "runtime");
        env.push_back("HOME=" + home.string());
        env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + (home / "runtime").string());
        env.push_back("XDG_MUSIC_DIR=" + (home / "Music").string());
        std::vector<std::string> args = {OREVANT_AGENT_BINARY, "--headless", "--quiet", "--backend", "sim"};
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);

        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, (home / "agent.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
    }
    ~Agent() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    // What the agent printed up to its "Press Ctrl-C to quit." line, or nothing when that line
    // did not come within `seconds`.
    std::optional<std::string> waitForBanner(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < deadline) {
            if (said_.find("Press Ctrl-C to quit.\n") != std::string::npos) return said_;
            pollfd fd{stdout_, POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt; // it ended
            said_.append(buffer, static_cast<size_t>(n));
        }
        return std::nullopt;
    }

    // The wait status once the agent ended, or nothing when it still runs after `seconds`.
    std::optional<int> waitForEnd(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (Clock::now() < deadline) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return status;
            }
            ::poll(nullptr, 0, 20);
        }
        return std::nullopt;
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string said_;
};

bool endedCleanly(const std::optional<int>& status) {
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// Faults: SIGHUP (a closed terminal, a logout) and SIGPIPE (a log reader that went away) killed
// the agent mid-take. Each request to end now ends it cleanly; SIGPIPE ends nothing.
TEST(AgentProcessTest, EveryTerminationSignalEndsTheAgentCleanlyAndABrokenPipeDoesNot) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
        test::TempDir home;
        Agent agent(home.path());
        ASSERT_GT(agent.pid(), 0);
        const auto banner = agent.waitForBanner(30.0);
        ASSERT_TRUE(banner) << strsignal(signal) << ": the agent did not start";
        // Where takes go is said at start.
        EXPECT_NE(banner->find("Takes are written to " + (home.path() / "Music/OREVANT").string()), std::string::npos)
            << *banner;
        ASSERT_EQ(::kill(agent.pid(), signal), 0);
        // Ignored, SIGPIPE leaves the agent to end on the SIGTERM after it; otherwise it kills it.
        if (signal == SIGPIPE) {
            ASSERT_EQ(::kill(agent.pid(), SIGTERM), 0);
        }
        const auto status = agent.waitForEnd(20.0);
        EXPECT_TRUE(endedCleanly(status)) << strsignal(signal) << ": status " << (status ? *status : -1);
    }
}

// Fault: a FIFO as defaults.json hung start-up for ever, deaf to SIGTERM and Ctrl-C.
TEST(AgentProcessTest, AFIFOAsTheDefaultsFileNeitherHangsStartUpNorStopsTheAgentFromEnding) {
    test::TempDir home;
    std::filesystem::create_directories(home / "config/orevant");
    ASSERT_EQ(::mkfifo((home / "config/orevant/defaults.json").c_str(), 0600), 0);
    Agent agent(home.path());
    ASSERT_GT(agent.pid(), 0);
    EXPECT_TRUE(agent.waitForBanner(30.0)) << "start-up hung";
    ASSERT_EQ(::kill(agent.pid(), SIGTERM), 0);
    EXPECT_TRUE(endedCleanly(agent.waitForEnd(20.0)));
    struct stat info {};
    ASSERT_EQ(::stat((home / "config/orevant/defaults.json").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << "the FIFO was set aside and a real file written";
}

} // namespace
} // namespace orevant
