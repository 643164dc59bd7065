#include "capture/render_diagnostics.h"

#include "platform/logger.h"

#include <string>

namespace orevant {

namespace {

// −1 when the buffer has no data, as the buffer peak is defined.
float peakOfBuffer(const AudioBuffer& b, RenderDiagnostics::PeakFunction peak) noexcept {
    return b.data ? peak(static_cast<const float*>(b.data), b.dataByteSize / 4) : -1.0f;
}

template <typename Entry>
std::string joined(uint32_t count, uint32_t kept, Entry entry) {
    std::string out;
    for (uint32_t i = 0; i < kept; ++i) {
        if (i) out += ' ';
        out += entry(i);
    }
    if (count > kept) out += strprintf(" +%u more", count - kept);
    return out;
}

} // namespace

void RenderDiagnostics::Buffers::take(const AudioBufferList& list, PeakFunction peak) noexcept {
    count = list.numberBuffers;
    const uint32_t kept = count < kMaxBuffers ? count : kMaxBuffers;
    for (uint32_t i = 0; i < kept; ++i) {
        channels[i] = list.buffers[i].numberChannels;
        bytes[i] = list.buffers[i].dataByteSize;
        if (peak) peaks[i] = peakOfBuffer(list.buffers[i], peak);
    }
}

void RenderDiagnostics::captureShape(const AudioBufferList& input, const AudioBufferList& output,
                                     bool isFloat32) noexcept {
    if (shape_.ready.load(std::memory_order_relaxed)) return;
    shape_.out.take(output, nullptr);
    shape_.in.take(input, nullptr);
    shape_.isFloat32 = isFloat32;
    shape_.ready.store(true, std::memory_order_release);
}

void RenderDiagnostics::capturePeaks(uint64_t cycle, const AudioBufferList& input, const AudioBufferList& output,
                                     float target, float volume, float maxTap, float maxIn0,
                                     PeakFunction peak) noexcept {
    if (cycle == 0 || cycle % kPeakEvery != 0 || cycle / kPeakEvery > kPeakSeries) return;
    Peaks& slot = peaks_[cycle / kPeakEvery - 1];
    if (slot.ready.load(std::memory_order_relaxed)) return;
    slot.cycle = cycle;
    slot.in.take(input, peak);
    slot.out.take(output, peak);
    slot.target = target;
    slot.volume = volume;
    slot.maxTap = maxTap;
    slot.maxIn0 = maxIn0;
    slot.ready.store(true, std::memory_order_release);
}

void RenderDiagnostics::logPending(const Logger& log) {
    auto kept = [](const Buffers& b) { return b.count < kMaxBuffers ? b.count : kMaxBuffers; };
    auto shapes = [&](const Buffers& b) {
        return joined(b.count, kept(b), [&](uint32_t i) { return strprintf("%uch/%uB", b.channels[i], b.bytes[i]); });
    };
    auto peaks = [&](const Buffers& b) {
        return joined(b.count, kept(b), [&](uint32_t i) { return strprintf("%.4f", static_cast<double>(b.peaks[i])); });
    };
    // Both texts are kept verbatim on purpose: they are what the logs are searched for.
    if (!shape_.logged && shape_.ready.load(std::memory_order_acquire)) {
        shape_.logged = true;
        log.notice(strprintf("SHAPE out[%ld]: %s | in[%ld]: %s | float32=%s", static_cast<long>(shape_.out.count),
                             shapes(shape_.out).c_str(), static_cast<long>(shape_.in.count), shapes(shape_.in).c_str(),
                             shape_.isFloat32 ? "true" : "false"));
    }
    for (Peaks& slot : peaks_) {
        if (slot.logged || !slot.ready.load(std::memory_order_acquire)) continue;
        slot.logged = true;
        log.notice(strprintf("PEAKDIAG n=%llu inPeaks=[%s] outPeaks=[%s] target=%f vol=%f maxTap=%f maxIn0=%f",
                             static_cast<unsigned long long>(slot.cycle), peaks(slot.in).c_str(),
                             peaks(slot.out).c_str(), static_cast<double>(slot.target),
                             static_cast<double>(slot.volume), static_cast<double>(slot.maxTap),
                             static_cast<double>(slot.maxIn0)));
    }
}

} // namespace orevant
