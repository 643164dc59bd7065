#pragma once
// For benchmarks of the running agent: after every OSC volume message the engine has applied,
// notes the audio cycle then under way and waits for the next one to finish — the first output
// cycle of the simulated device that carries the new gain target — then writes a line
//   <CLOCK_MONOTONIC nanoseconds> <target> <value>
// to a file. A client that stamps its sends with the same clock gets the control latency.
//
// Threads: install() and the wrapped callback on the main queue; the waiting and writing on the
// probe's own thread.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace orevant {

class MixerEngine;
class SimAudioEngine;

class LatencyProbe {
public:
    LatencyProbe(SimAudioEngine& audio, const std::string& path);
    ~LatencyProbe();
    LatencyProbe(const LatencyProbe&) = delete;
    LatencyProbe& operator=(const LatencyProbe&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // Wraps the engine's handler of OSC volume messages (after the engine installed it).
    void install(MixerEngine& engine);

private:
    struct Pending {
        uint64_t cycle;
        std::string target;
        float value;
    };
    void note(const std::string& target, float value);
    void run();

    SimAudioEngine& audio_;
    std::FILE* file_ = nullptr;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> pending_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace orevant
