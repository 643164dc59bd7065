#include "platform/pipewire/pipewire_loop.h"

#include "platform/pipewire/pipewire_api.h"

#include <cerrno>
#include <ctime>

namespace orevant {

PipeWireLoop::PipeWireLoop() {
    pw_init(nullptr, nullptr);
    threadLoop_ = pw_thread_loop_new("orevant-pipewire", nullptr);
    running_ = threadLoop_ && pw_thread_loop_start(threadLoop_) == 0;
}

PipeWireLoop::~PipeWireLoop() {
    if (!threadLoop_) return;
    if (running_) pw_thread_loop_stop(threadLoop_);
    pw_thread_loop_destroy(threadLoop_);
}

pw_loop* PipeWireLoop::loop() const { return pw_thread_loop_get_loop(threadLoop_); }

bool PipeWireLoop::inLoopThread() const { return pw_thread_loop_in_thread(threadLoop_); }

PipeWireLoop::Lock::Lock(const PipeWireLoop& loop) : threadLoop_(loop.threadLoop_) { pw_thread_loop_lock(threadLoop_); }

PipeWireLoop::Lock::~Lock() { pw_thread_loop_unlock(threadLoop_); }

bool PipeWireLoop::waitFor(const std::function<bool()>& done, double seconds) const {
    timespec deadline{};
    pw_thread_loop_get_time(threadLoop_, &deadline, static_cast<int64_t>(seconds * 1e9));
    while (!done()) {
        // A plain wait would hang for ever once the daemon is gone: every wait has a deadline.
        if (pw_thread_loop_timed_wait_full(threadLoop_, &deadline) == -ETIMEDOUT) return done();
    }
    return true;
}

void PipeWireLoop::signal() const { pw_thread_loop_signal(threadLoop_, false); }

} // namespace orevant
