#pragma once
// A real child program with its stdin and stdout on pipes, started in an environment of the test's
// choosing; killed and reaped if the test leaves it running.
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
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace orevant::test {

class ChildProcess {
public:
    // `env`: "NAME=value" sets NAME, a bare "NAME" removes it; all else is inherited. `stderrPath`
    // empty: stderr is inherited.
    ChildProcess(std::vector<std::string> args, const std::vector<std::string>& env,
                 const std::filesystem::path& stderrPath = {}) {
        std::vector<std::string> entries;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& change : env)
                replaced = replaced || entry.rfind(change.substr(0, change.find('=')) + "=", 0) == 0;
            if (!replaced) entries.push_back(entry);
        }
        for (const std::string& change : env)
            if (change.find('=') != std::string::npos) entries.push_back(change);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : entries) envp.push_back(e.data());
        envp.push_back(nullptr);

        int in[2], out[2];
        EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (!stderrPath.empty())
            posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        EXPECT_GT(pid_, 0) << "cannot start " << args[0];
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (stdout_ >= 0) ::close(stdout_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    int stdoutFd() const { return stdout_; }

    // One line (blocking until the child writes it or ends).
    std::string readLine() const {
        std::string line;
        char c;
        while (::read(stdout_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    // Everything until the child closes its stdout.
    std::string readAll() const {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(stdout_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
        return text;
    }
    // Closes the child's stdin, then its exit status, or -1 when a signal ended it.
    int wait() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // As wait(), or nothing when the child still runs after `seconds`.
    std::optional<int> waitFor(double seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            ::poll(nullptr, 0, 20);
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
};

} // namespace orevant::test
