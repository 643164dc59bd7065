#pragma once
// The simulated server's audio side: what processes play, process taps, aggregate devices, IO
// procedures and the devices' mixed output.
//
// One IO cycle is kCycleFrames (512) frames for every device. Each cycle:
// - every process whose "piro" is 1 renders 512 stereo frames of its source, generated at the
//   nominal rate of the device it is heard on (48 kHz when unknown);
// - playing processes that are not silenced by a tap are added into the system default output
//   device ("dOut"): left into channel 0, right into channel 1, a 1-channel device gets their
//   average;
// - each started aggregate calls its IO procedures on the aggregate's own IO thread with
//   input = [one zeroed buffer per sub-device input stream..., one stereo buffer per tap] and
//   output = [one zeroed interleaved buffer per sub-device output stream, with that device's
//   channel count]; what they write is added into those devices;
// - every device's mixed output is appended to its history (a ring made when the device is first
//   seen, kHistorySeconds long unless the owner chose another length) and, when one is set, to its
//   WAV file.
// A tap with mute behaviour 2 silences its processes on their own only while an aggregate that
// lists it is running; mute behaviour 1 silences them always.
//
// Cycles are stepped synchronously by runCycles (tests) or run by a clock thread paced by the
// steady clock (startClock, the running agent). Either way the IO procedure runs on the
// aggregate's IO thread, and the caller waits for it.
//
// Threads: every method may be called from any thread except an IO thread. stopDevice,
// destroyIOProc and destroyAggregateDevice return only after a cycle in progress has finished,
// so an IO procedure never runs after they return.
#include "platform/audio_server.h"
#include "platform/sim/sim_audio_source.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class SimAudioServer;

class SimAudioEngine {
public:
    static constexpr uint32_t kCycleFrames = 512;
    // Kept per device unless the owner chooses otherwise: more than any test reads back.
    static constexpr double kHistorySeconds = 2.0;

    explicit SimAudioEngine(SimAudioServer& server);
    ~SimAudioEngine();
    SimAudioEngine(const SimAudioEngine&) = delete;
    SimAudioEngine& operator=(const SimAudioEngine&) = delete;

    // The audio server's tap, aggregate and IO calls.
    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTap);
    OSStatus destroyProcessTap(AudioObjectID tap);
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice);
    // Destroys any object of the aggregate class (also ones made with createObject) and removes
    // it from "dev#". Refused while one of its IO procedures runs, as destroyIOProc of a running
    // procedure is.
    OSStatus destroyAggregateDevice(AudioObjectID device);
    OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID);
    OSStatus destroyIOProc(AudioObjectID device, IOProcID id);
    OSStatus startDevice(AudioObjectID device, IOProcID id);
    OSStatus stopDevice(AudioObjectID device, IOProcID id);

    // What a process plays while its "piro" is 1. A WAV source that cannot be read plays silence.
    void setProcessSource(AudioObjectID process, const SimAudioSource& source);
    // Writes the device's mixed output, from the next cycle on, to a 32-bit float WAV file at the
    // device's rate and channel count. An empty path closes the file; a file that cannot be
    // opened is logged and nothing is written.
    void setDeviceOutputFile(AudioObjectID device, const std::string& path);

    // ---- Cycles ----
    void runCycles(size_t count);
    void startClock();
    void stopClock();
    bool isClockRunning() const;
    uint64_t cycleCount() const;

    // ---- Reading device output back (the last `frames` frames kept; all kept when 0) ----
    // How much of each device's output is kept: tests keep what they read back, the agent only
    // what its live view shows. Drops what was kept.
    void setOutputHistorySeconds(double seconds);
    size_t outputFrameCount(AudioObjectID device) const;
    uint32_t outputChannelCount(AudioObjectID device) const;
    std::vector<float> outputSamples(AudioObjectID device, uint32_t channel, size_t frames = 0) const;
    float outputPeak(AudioObjectID device, uint32_t channel, size_t frames = 0) const;
    float outputRMS(AudioObjectID device, uint32_t channel, size_t frames = 0) const;
    void clearOutput(AudioObjectID device);

    // ---- Failure injection for the creation and start calls ----
    enum class Call { createProcessTap, createAggregateDevice, createIOProc, startDevice };
    // The next `times` calls (every call when negative) return `status`.
    void injectFailure(Call call, OSStatus status, int times = -1);
    void clearFailures();
    size_t callCount(Call call) const;

    // ---- Inspection ----
    std::optional<TapDescription> tapDescription(AudioObjectID tap) const;
    std::optional<AggregateDescription> aggregateDescription(AudioObjectID device) const;
    std::vector<AudioObjectID> liveTaps() const;
    std::vector<AudioObjectID> liveAggregates() const;
    bool isDeviceRunning(AudioObjectID device) const;
    size_t ioProcCount(AudioObjectID device) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orevant
