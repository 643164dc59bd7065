#pragma once
// The private PipeWire + WirePlumber + pipewire-pulse of scripts/pipewire-stack.sh, for tests
// and benchmarks: started in a temporary folder, this process pointed at it, stopped (by PID)
// when the object goes. Also what tests need to play and hear audio on it:
//   ToneFile   a 32-bit float stereo WAV of a sine (1 kHz, peak 0.5 unless asked otherwise)
//   Player     pw-play (a native client) or paplay (through pipewire-pulse) playing a file as an
//              application with its own application.id, in a process of its own
//   Capture    what a sink plays, read at its monitor into memory (RMS, peak, samples)
//   pumpUntil  runs a manual main queue, its virtual clock following real time, until a
//              condition holds or a bounded time passes
#include "platform/manual_main_queue.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orevant::test {

class PipeWireStack {
public:
    explicit PipeWireStack(int quantum = 1024);
    ~PipeWireStack();
    PipeWireStack(const PipeWireStack&) = delete;
    PipeWireStack& operator=(const PipeWireStack&) = delete;

    bool isUp() const { return !dir_.empty(); }
    const std::string& dir() const { return dir_; }
    // Kills PipeWire, WirePlumber and pipewire-pulse and starts them again in the same folder
    // (the same socket); false when they did not come back within the script's bound.
    bool restart();

private:
    std::string dir_;
};

// Runs `command` through the shell; its exit status (-1 when it could not run).
int runCommand(const std::string& command, std::string* output = nullptr);

class ToneFile {
public:
    explicit ToneFile(float amplitude = 0.5f, double frequency = 1000.0, double seconds = 60.0);
    ~ToneFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class Player {
public:
    enum class Kind { native, pulse };
    Player(Kind kind, const std::string& applicationID, const std::string& file);
    // Any program, with extra environment entries ("NAME=value").
    explicit Player(std::vector<std::string> args, std::vector<std::string> extraEnvironment = {});
    // Ends the player (SIGTERM, then SIGKILL after a bound).
    ~Player();
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

class Capture {
public:
    // Records what `sinkName` plays, `channels` channels (positions as the CI sinks have them).
    Capture(const std::string& sinkName, int channels);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    bool isRunning() const;
    void clear();
    size_t frames() const;
    // Over the last `seconds` recorded (all when there are fewer).
    float rms(int channel, double seconds) const;
    float peak(int channel, double seconds) const;
    // Every sample of one channel recorded since the last clear().
    std::vector<float> samples(int channel) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The stack of the test binary that runs against one (its main defines it).
PipeWireStack& stack();

bool pumpUntil(ManualMainQueue& queue, const std::function<bool()>& done, double seconds);
// Runs the queue for `seconds` of real time (its clock following).
void pumpFor(ManualMainQueue& queue, double seconds);

} // namespace orevant::test
