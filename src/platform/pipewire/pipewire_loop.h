#pragma once
// The PipeWire thread loop: the one thread on which every PipeWire object of ours lives, and
// its lock, which every other thread takes around each PipeWire call.
//
// Threads: construction and destruction on the owning thread; Lock and waitFor from any thread
// except the loop's own (callbacks already hold the lock); signal on the loop thread.
#include <functional>

struct pw_thread_loop;
struct pw_loop;

namespace orevant {

class PipeWireLoop {
public:
    PipeWireLoop();
    ~PipeWireLoop();
    PipeWireLoop(const PipeWireLoop&) = delete;
    PipeWireLoop& operator=(const PipeWireLoop&) = delete;

    // False when the loop's thread could not be made; nothing else works then.
    bool isRunning() const { return running_; }
    pw_thread_loop* threadLoop() const { return threadLoop_; }
    pw_loop* loop() const;
    bool inLoopThread() const;

    class Lock {
    public:
        explicit Lock(const PipeWireLoop& loop);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pw_thread_loop* threadLoop_;
    };

    // With the lock held: sleeps until `done()` holds or `seconds` have passed (false then).
    // Callbacks that change what `done` looks at call signal().
    bool waitFor(const std::function<bool()>& done, double seconds) const;
    void signal() const;

private:
    pw_thread_loop* threadLoop_ = nullptr;
    bool running_ = false;
};

} // namespace orevant
