#include "app/signal_watcher.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace orevant {

namespace {
sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
} // namespace

void SignalWatcher::blockTerminationSignals() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void SignalWatcher::ignoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

SignalWatcher::SignalWatcher(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    const sigset_t set = terminationSignals();
    signalFd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SignalWatcher::~SignalWatcher() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (signalFd_ >= 0) ::close(signalFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SignalWatcher::start() {
    if (!isValid() || thread_.joinable()) return;
    thread_ = std::thread([this] { run(); });
}

size_t SignalWatcher::dispatchPending() {
    size_t count = 0;
    signalfd_siginfo info{};
    while (signalFd_ >= 0 && ::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        ++count;
        std::function<void(int)> callback;
        {
            std::lock_guard lock(mutex_);
            callback = onSignal_;
        }
        if (callback) callback(static_cast<int>(info.ssi_signo));
    }
    return count;
}

void SignalWatcher::setCallback(std::function<void(int)> onSignal) {
    std::lock_guard lock(mutex_);
    onSignal_ = std::move(onSignal);
}

void SignalWatcher::run() {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents) dispatchPending();
    }
}

} // namespace orevant
