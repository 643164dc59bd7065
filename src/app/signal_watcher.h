#pragma once
// SIGINT and SIGTERM as ordinary events: the signals are blocked in every thread and read from
// a signalfd, so nothing runs in signal-handler context. The watcher's thread hands each signal
// to a callback, which posts the real work to the main queue.
//
// Threads: blockTerminationSignals on the main thread before any other thread exists; the
// callback runs on the watcher's thread (or on the caller of dispatchPending).
#include <functional>
#include <thread>

namespace orevant {

class SignalWatcher {
public:
    // Blocks SIGINT and SIGTERM for the calling thread and every thread it starts afterwards.
    static void blockTerminationSignals();

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

private:
    void run();

    std::function<void(int)> onSignal_;
    int signalFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace orevant
