#pragma once
// The capture and playback unit of one application: a process tap on the application's
// processes, a private aggregate device around that tap and the chosen output devices, and an IO
// procedure on the aggregate that applies gain, mute, cue and routing in real time.
//
// Threads:
// - main queue: construction, start, stop, destruction, the setters, isAnyProcessPlaying,
//   isAggregateAlive, takePeak, logDiagnostics.
// - IO thread (owned by the audio server, one per aggregate): render only. It never formats,
//   allocates, logs or locks: its diagnostics are captured as numbers and logged by
//   logDiagnostics on the main queue.
// - Any thread: the getters (each a relaxed atomic load).
// Control parameters cross from the main queue to the IO thread as relaxed atomics, each read
// once per cycle, so fields changed together may be seen half-applied for one cycle.
#include "capture/recording_lane_feed.h"
#include "capture/render_diagnostics.h"
#include "capture/render_kernels.h"
#include "platform/audio_server.h"
#include "platform/logger.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

// What PHONES carries of one application while its tap runs with paired buses.
enum class PhonesMode : int32_t {
    sameAsMain = 0, // nothing is cued: PHONES hears the application at its MAIN gain
    cue = 1,        // this application is cued: PHONES hears it at its cue level, pre-fade
    silent = 2,     // another application is cued: PHONES does not hear this one
};

// The PHONES mode of an application, given whether any application is cued and whether this one is.
constexpr PhonesMode phonesModeFor(bool anyCued, bool isCued) {
    return !anyCued ? PhonesMode::sameAsMain : (isCued ? PhonesMode::cue : PhonesMode::silent);
}

class ProcessTap {
public:
    struct Output {
        std::string uid;
        AudioObjectID id = 0;
        bool operator==(const Output&) const = default;
    };

    struct ChannelPairing {
        int mainOffset = 0;
        int phonesOffset = 2;
        int width = 2;
        bool operator==(const ChannelPairing&) const = default;
    };

    // Touches no audio-server object. A new tap starts at its target gains (no fade-in).
    ProcessTap(AudioServer& server, std::vector<AudioObjectID> processObjectIDs, float volume, bool isMuted,
               float cueVolume, std::shared_ptr<RecordingLaneFeed> recordingLane = nullptr);
    // Runs the teardown of stop(): the IO procedure is stopped before this object's storage goes.
    ~ProcessTap();
    ProcessTap(const ProcessTap&) = delete;
    ProcessTap& operator=(const ProcessTap&) = delete;

    // Main queue. Builds the tap and aggregate and starts IO. Throws HALError::operation with
    // "create process tap", "create aggregate device", "create IO proc" or
    // "start aggregate device"; whatever was created before the failure is released by stop()
    // or destruction. Does nothing when already started or when `outputs` is empty.
    void start(const std::vector<Output>& outputs, std::optional<ChannelPairing> pairing = std::nullopt);
    // Main queue. Stops IO and destroys the aggregate, then the tap. A second call does nothing.
    void stop();

    // Main queue: control parameters.
    void setVolume(float v);        // stores clamp(v)
    void setCueVolume(float v);     // stores clamp(v)
    void setPhonesBusGain(float v); // stores clamp(v)
    void setMuted(bool muted);
    void setPhonesMode(PhonesMode mode); // values outside the enumeration act as sameAsMain
    void setPanicked(bool panicked);
    void setRecordsToMain(bool records);

    // Any thread: returns the highest MAIN sample since the last call and clears it.
    float takePeak();
    // Main queue: true when any process object reads non-zero "piro"; failed reads are skipped.
    bool isAnyProcessPlaying() const;
    // Main queue: false when not started; else the aggregate's "livn" (a failed read is false).
    bool isAggregateAlive() const;

    // IO thread: the body of the IO procedure. Allocates nothing, takes no lock, makes no system
    // call, from the first cycle on; denormals are flushed to zero while it runs.
    void render(const AudioBufferList& input, AudioBufferList& output) noexcept;
    // Main queue: writes the SHAPE and PEAKDIAG lines the IO thread has captured since the last
    // call. stop() and destruction write what is left.
    void logDiagnostics();

    // Any thread: observable state.
    float volume() const { return volume_.load(std::memory_order_relaxed); }
    bool isMuted() const { return isMuted_.load(std::memory_order_relaxed); }
    float cueVolume() const { return cueVolume_.load(std::memory_order_relaxed); }
    PhonesMode phonesMode() const { return phonesMode_.load(std::memory_order_relaxed); }
    // The channel pairing the tap runs with; none while its buses are not paired.
    std::optional<ChannelPairing> pairing() const { return unpackPairing(pairing_.load(std::memory_order_relaxed)); }
    bool pairedBuses() const { return pairing().has_value(); }
    int mainOffset() const { return pairing().value_or(ChannelPairing{}).mainOffset; }
    int phonesOffset() const { return pairing().value_or(ChannelPairing{}).phonesOffset; }
    int pairWidth() const { return pairing().value_or(ChannelPairing{}).width; }
    float phonesBusGain() const { return phonesBusGain_.load(std::memory_order_relaxed); }
    bool panicked() const { return panicked_.load(std::memory_order_relaxed); }
    bool recordsToMain() const { return recordsToMain_.load(std::memory_order_relaxed); }
    float peak() const { return peak_.load(std::memory_order_relaxed); }
    float currentGain() const { return currentGain_.load(std::memory_order_relaxed); }
    float currentCueGain() const { return currentCueGain_.load(std::memory_order_relaxed); }
    float rampCoefficient() const { return rampCoefficient_.load(std::memory_order_relaxed); }
    bool isFloat32() const { return isFloat32_.load(std::memory_order_relaxed); }
    uint64_t renderCount() const { return renderCount_.load(std::memory_order_relaxed); }
    bool shapeLogged() const { return shapeLogged_.load(std::memory_order_relaxed); }
    bool diagLogged() const { return diagLogged_.load(std::memory_order_relaxed); }

    // Main queue: audio-server handles and fixed parts.
    AudioObjectID tapID() const { return tapID_; }
    AudioObjectID aggregateID() const { return aggregateID_; }
    std::optional<IOProcID> procID() const { return procID_; }
    const std::vector<AudioObjectID>& processObjectIDs() const { return processObjectIDs_; }
    const std::vector<Output>& activatedOutputs() const { return activatedOutputs_; }
    const std::shared_ptr<RecordingLaneFeed>& recordingLane() const { return recordingLane_; }

private:
    // The pairing crosses to the IO thread as one word, so a cycle never sees half of a change:
    // bit 31 set = paired, then MAIN offset, PHONES offset and width, one byte each.
    static uint32_t packPairing(std::optional<ChannelPairing> pairing) noexcept;
    static std::optional<ChannelPairing> unpackPairing(uint32_t packed) noexcept;

    void teardown();
    void feedLane(const AudioBuffer& buffer, uint32_t channelOffset) noexcept;
    void raisePeak(float highest) noexcept;
    void captureDiagnostics(const AudioBufferList& input, const AudioBufferList& output, uint64_t cycle,
                            float mainTarget, float vol) noexcept;

    AudioServer& server_;
    Logger log_{"ProcessTap"};
    // Chosen on the main queue, so the IO thread only follows a pointer.
    const RenderKernels& kernels_;

    // Control parameters: written on the main queue, read by the IO thread.
    std::atomic<float> volume_;
    std::atomic<bool> isMuted_;
    std::atomic<float> cueVolume_;
    std::atomic<PhonesMode> phonesMode_{PhonesMode::sameAsMain};
    std::atomic<uint32_t> pairing_{0};
    std::atomic<bool> shapeLogged_{false};
    std::atomic<float> phonesBusGain_{1.0f};
    std::atomic<bool> panicked_{false};
    std::atomic<bool> recordsToMain_{false};

    // Recording feed: the lane is fixed for the tap's life; cursor and generation are the IO
    // thread's own.
    const std::shared_ptr<RecordingLaneFeed> recordingLane_;
    int64_t recordCursor_ = 0;
    int32_t recordGeneration_ = 0;

    // Render state: written by the IO thread (rampCoefficient and isFloat32 by start, before IO).
    std::atomic<float> peak_{0.0f};
    std::atomic<float> currentGain_;
    std::atomic<float> currentCueGain_;
    std::atomic<float> rampCoefficient_{0.0f};
    RampTable ramp_; // made by start from the coefficient, before IO begins
    std::atomic<bool> isFloat32_{true};
    std::atomic<uint64_t> renderCount_{0};
    float diagInPeak_ = 0.0f;
    float diagOutPeak_ = 0.0f;
    std::atomic<bool> diagLogged_{false};
    RenderDiagnostics diagnostics_;

    // Audio-server handles: main queue only.
    AudioObjectID tapID_ = 0;
    AudioObjectID aggregateID_ = 0;
    std::optional<IOProcID> procID_;
    const std::vector<AudioObjectID> processObjectIDs_;
    std::vector<Output> activatedOutputs_;

    static_assert(std::atomic<float>::is_always_lock_free);
    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<int32_t>::is_always_lock_free);
    static_assert(std::atomic<uint32_t>::is_always_lock_free);
    static_assert(std::atomic<PhonesMode>::is_always_lock_free);
    static_assert(std::atomic<uint64_t>::is_always_lock_free);
};

} // namespace orevant
