#pragma once
// The in-graph part of one aggregate: a pw_filter that reads a tap sink's monitor (two DSP
// input ports, FL and FR) and writes one DSP output port per channel of each output device.
// Its real-time process callback is the IO procedure: it interleaves the tap's two channels,
// calls the installed block with the tap as the one input buffer and one interleaved buffer
// per device, and spreads what the block wrote onto the output ports. Buffers are allocated
// here, for kMaxIOFrames frames; the cycle size may change from one cycle to the next.
//
// Threads: construction, connect, setBlock, destruction with the PipeWire loop's lock held;
// process on the context's data-loop thread (real time: no allocation, no lock, no system call).
#include "platform/audio_server.h"
#include "platform/pipewire/pipewire_mapping.h"

#include <atomic>
#include <string>
#include <vector>

struct pw_core;
struct pw_filter;
struct spa_io_position;

namespace orevant {

class PipeWireTapFilter {
public:
    // One output device: the audio.channel of each of its playback ports, in port order.
    struct Output {
        std::vector<std::string> channels;
    };

    PipeWireTapFilter(pw_core* core, const std::string& nodeName, const std::string& description,
                      const std::vector<Output>& outputs);
    ~PipeWireTapFilter();
    PipeWireTapFilter(const PipeWireTapFilter&) = delete;
    PipeWireTapFilter& operator=(const PipeWireTapFilter&) = delete;

    // Connects the filter inactive; false when PipeWire refused.
    bool connect();
    bool isReady() const;    // connected and paused or streaming
    bool hasFailed() const;  // the filter reported an error
    uint32_t nodeID() const; // its global id once ready
    void setActive(bool active);

    // The block the next cycles call; null: the outputs carry silence. After setBlock returns,
    // no cycle still runs with the block that was installed before.
    void setBlock(const IOProcBlock* block);

    // Any thread: cycles run so far, and the frames of the last one.
    uint64_t cycles() const { return cycles_.load(std::memory_order_relaxed); }
    uint32_t lastFrames() const { return lastFrames_.load(std::memory_order_relaxed); }

private:
    friend struct TapFilterCallbacks;
    void process(uint32_t frames) noexcept;

    pw_filter* filter_ = nullptr;
    struct Hook;
    Hook* hook_ = nullptr;
    std::vector<void*> inPorts_;
    std::vector<void*> outPorts_;
    std::vector<uint32_t> outChannels_; // per device
    // Preallocated cycle buffers: the tap (interleaved stereo) and one per device.
    std::vector<float> tap_;
    std::vector<std::vector<float>> out_;
    std::vector<AudioBuffer> outBuffers_;
    AudioBuffer tapBuffer_{};

    std::atomic<const IOProcBlock*> block_{nullptr};
    std::atomic<int> busy_{0};
    std::atomic<int> state_{0}; // pw_filter_state
    std::atomic<uint64_t> cycles_{0};
    std::atomic<uint32_t> lastFrames_{0};
};

} // namespace orevant
