#pragma once
// The render path's two diagnostics: the buffer shapes of a tap's first cycle on the general path
// ("SHAPE …") and the peak series of its first 2500 general cycles ("PEAKDIAG …", every 500th).
// The IO thread only captures their numbers into slots made with the tap; the main queue formats
// them and writes them to the log, with the texts they always had. A slot holds up to kMaxBuffers
// buffers of a list; buffers beyond those are counted and shown as "+N more".
//
// Threads: captureShape and capturePeaks on the IO thread (wait-free: no allocation, no lock, no
// system call; each slot is filled once and then published with a release store); logPending on
// the main queue.
#include "platform/audio_types.h"

#include <atomic>
#include <cstdint>

namespace orevant {

class Logger;

class RenderDiagnostics {
public:
    static constexpr uint32_t kMaxBuffers = 16;
    static constexpr uint64_t kPeakEvery = 500;
    static constexpr int kPeakSeries = 5; // cycles 500, 1000, …, 2500

    using PeakFunction = float (*)(const float* samples, size_t n) noexcept;

    void captureShape(const AudioBufferList& input, const AudioBufferList& output, bool isFloat32) noexcept;
    // `cycle` is a multiple of kPeakEvery up to kPeakEvery × kPeakSeries; others are ignored.
    void capturePeaks(uint64_t cycle, const AudioBufferList& input, const AudioBufferList& output, float target,
                      float volume, float maxTap, float maxIn0, PeakFunction peak) noexcept;

    // Writes what the IO thread has captured since the last call, in the order it was captured.
    void logPending(const Logger& log);

private:
    struct Buffers {
        uint32_t count = 0; // every buffer of the list, also those not kept
        uint32_t channels[kMaxBuffers] = {};
        uint32_t bytes[kMaxBuffers] = {};
        float peaks[kMaxBuffers] = {};
        void take(const AudioBufferList& list, PeakFunction peak) noexcept;
    };
    struct Shape {
        Buffers out, in;
        bool isFloat32 = true;
        std::atomic<bool> ready{false};
        bool logged = false; // main queue
    };
    struct Peaks {
        uint64_t cycle = 0;
        Buffers in, out;
        float target = 0, volume = 0, maxTap = 0, maxIn0 = 0;
        std::atomic<bool> ready{false};
        bool logged = false; // main queue
    };

    Shape shape_;
    Peaks peaks_[kPeakSeries];
};

} // namespace orevant
