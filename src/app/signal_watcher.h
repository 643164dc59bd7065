#pragma once
// SIGINT, SIGTERM and SIGHUP as ordinary events: the signals are blocked in every thread and
// read from a signalfd, so nothing runs in signal-handler context. The watcher's thread hands
// each signal to a callback, which posts the real work to the main queue. SIGHUP counts as a
// request to end because a closed terminal or a logout sends it, and the take and the
// attenuated applications deserve the same clean ending as on SIGTERM.
//
// Threads: blockTerminationSignals and ignoreBrokenPipe on the main thread before any other
// thread exists; the callback runs on the watcher's thread (or on the caller of
// dispatchPending); setCallback from any thread.
#include <functional>
#include <mutex>
#include <thread>

namespace orevant {

class SignalWatcher {
public:
    // Blocks SIGINT, SIGTERM and SIGHUP for the calling thread and every thread it starts
    // afterwards.
    static void blockTerminationSignals();
    // A reader that went away (a closed pipe on stdout, a peer that closed its socket) must not
    // end the agent: writes fail with EPIPE instead.
    static void ignoreBrokenPipe();

    explicit SignalWatcher(std::function<void(int signal)> onSignal);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    bool isValid() const { return signalFd_ >= 0; }
    // Starts the thread that waits for signals.
    void start();
    // Reads the signals already pending (for the process or the calling thread) and runs the
    // callback for each on the calling thread. Returns how many.
    size_t dispatchPending();
    // Replaces the callback; the next signal goes to the new one.
    void setCallback(std::function<void(int signal)> onSignal);

private:
    void run();

    std::mutex mutex_;
    std::function<void(int)> onSignal_;
    int signalFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace orevant
