// The real agent program, started as a user would (`orevant --headless --quiet --backend sim`)
// in a private home, and ended by the signals a terminal, a logout or a pipeline sends it.
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>

namespace orevant {
namespace {

// The agent in a private home, its stderr in home/agent.log.
class Agent : public test::ChildProcess {
public:
    explicit Agent(const std::filesystem::path& home)
        : ChildProcess({OREVANT_AGENT_BINARY, "--headless", "--quiet", "--backend", "sim"},
                       {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / "config").string(),
                        "XDG_RUNTIME_DIR=" + makeDir(home / "runtime"), "XDG_MUSIC_DIR=" + (home / "Music").string(),
                        "XDG_CACHE_HOME"},
                       home / "agent.log") {}

    // What the agent printed up to its "Press Ctrl-C to quit." line, or nothing when that line
    // did not come within `seconds`.
    std::optional<std::string> waitForBanner(double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (said_.find("Press Ctrl-C to quit.\n") != std::string::npos) return said_;
            pollfd fd{stdoutFd(), POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(stdoutFd(), buffer, sizeof buffer);
            if (n <= 0) return std::nullopt; // it ended
            said_.append(buffer, static_cast<size_t>(n));
        }
        return std::nullopt;
    }

private:
    static std::string makeDir(const std::filesystem::path& dir) {
        std::filesystem::create_directories(dir);
        return dir.string();
    }
    std::string said_;
};

// Faults: SIGHUP (a closed terminal, a logout) and SIGPIPE (a log reader that went away) killed
// the agent mid-take; a FIFO as defaults.json hung start-up for ever, deaf to every signal. Each
// request to end now ends it cleanly; SIGPIPE ends nothing.
TEST(AgentProcessTest, EveryTerminationSignalEndsTheAgentCleanlyAndABrokenPipeOrAFIFODoesNot) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
        test::TempDir home;
        const auto defaultsFile = home / "config/orevant/defaults.json";
        std::filesystem::create_directories(defaultsFile.parent_path());
        if (signal == SIGTERM) {
            ASSERT_EQ(::mkfifo(defaultsFile.c_str(), 0600), 0);
        }
        Agent agent(home.path());
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
        EXPECT_EQ(agent.waitFor(20.0), 0) << strsignal(signal);
        if (signal == SIGTERM) {
            struct stat info {};
            EXPECT_TRUE(::stat(defaultsFile.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << "the FIFO was kept";
        }
    }
}

} // namespace
} // namespace orevant
