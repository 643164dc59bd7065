#include "capture/process_tap.h"

#include "audio/hal.h"
#include "capture/render_mix.h"
#include "persistence/uuid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orevant {

namespace {

constexpr double kFallbackSampleRate = 48000.0;

// Fresh per start, so rebuilt taps never collide with objects the server still holds.
std::string randomUUID() { return UUID::random().uuidString(); }

std::string joinIDs(const std::vector<AudioObjectID>& ids) {
    std::string out;
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(ids[i]);
    }
    return out;
}

inline void zero(AudioBuffer& b) noexcept {
    if (b.data) std::memset(b.data, 0, b.dataByteSize);
}

inline uint32_t stride(uint32_t channels) noexcept { return std::max<uint32_t>(channels, 1); }

std::string bufferShape(const AudioBufferList& list) {
    std::string out;
    for (uint32_t i = 0; i < list.numberBuffers; ++i) {
        if (i) out += ' ';
        out +=
            std::to_string(list.buffers[i].numberChannels) + "ch/" + std::to_string(list.buffers[i].dataByteSize) + "B";
    }
    return out;
}

std::string bufferPeaks(const AudioBufferList& list) {
    std::string out;
    for (uint32_t i = 0; i < list.numberBuffers; ++i) {
        if (i) out += ' ';
        out += strprintf("%.4f", static_cast<double>(bufferPeak(list.buffers[i])));
    }
    return out;
}

} // namespace

ProcessTap::ProcessTap(AudioServer& server, std::vector<AudioObjectID> processObjectIDs, float volume, bool isMuted,
                       float cueVolume, std::shared_ptr<RecordingLaneFeed> recordingLane)
    : server_(server),
      volume_(volume),
      isMuted_(isMuted),
      cueVolume_(cueVolume),
      recordingLane_(std::move(recordingLane)),
      currentGain_(isMuted ? 0.0f : gainForControl(volume)),
      currentCueGain_(gainForControl(cueVolume)),
      processObjectIDs_(std::move(processObjectIDs)) {}

ProcessTap::~ProcessTap() { stop(); }

void ProcessTap::start(const std::vector<Output>& outputs, std::optional<ChannelPairing> pairing) {
    if (aggregateID_ != 0 || outputs.empty()) return;

    activatedOutputs_ = outputs;
    pairing_.store(packPairing(outputs.size() == 1 ? pairing : std::nullopt), std::memory_order_relaxed);

    const std::string firstID = std::to_string(processObjectIDs_.empty() ? 0u : processObjectIDs_.front());
    TapDescription tap;
    tap.processes = processObjectIDs_;
    tap.uuid = randomUUID();
    tap.muteBehavior = 2; // muted when tapped: the application is heard only through this tap
    tap.isPrivate = true;
    tap.name = "OREVANT tap #" + firstID;
    AudioObjectID tapID = 0;
    if (OSStatus s = server_.createProcessTap(tap, tapID)) throw HALError::operation(s, "create process tap");
    tapID_ = tapID;

    AggregateDescription agg;
    agg.name = "OREVANT aggregate #" + firstID;
    agg.uid = randomUUID();
    agg.master = outputs.front().uid;
    agg.clock = outputs.front().uid;
    agg.isPrivate = true;
    agg.tapAutoStart = true;
    for (const Output& o : outputs) agg.subdevices.push_back({o.uid, o.uid != outputs.front().uid});
    agg.taps.push_back({tap.uuid, true});
    // Stacked: every output device plays the same channels.
    if (outputs.size() >= 2) agg.stacked = true;
    AudioObjectID aggregateID = 0;
    if (OSStatus s = server_.createAggregateDevice(agg, aggregateID))
        throw HALError::operation(s, "create aggregate device");
    aggregateID_ = aggregateID;

    HAL hal(server_);
    double rate = kFallbackSampleRate;
    try {
        rate = hal.read<double>(aggregateID_, sel::nominalSampleRate);
    } catch (const HALError&) {}
    if (!(rate > 0.0) || !std::isfinite(rate)) rate = kFallbackSampleRate; // a nonsense rate would freeze the ramp
    rampCoefficient_.store(orevant::rampCoefficient(rate), std::memory_order_relaxed);

    try {
        const auto format = hal.read<AudioStreamBasicDescription>(aggregateID_, sel::streamFormat, scope::output);
        const bool ok = format.formatID == kAudioFormatLinearPCM && (format.formatFlags & kAudioFormatFlagIsFloat) &&
                        format.bitsPerChannel == 32;
        isFloat32_.store(ok, std::memory_order_relaxed);
        if (!ok) log_.error("Aggregate stream is not Float32 PCM; gain disabled, passing through");
    } catch (const HALError&) {
        // Unknown format: keep assuming float.
    }

    // The block holds the tap by plain pointer: teardown stops and destroys the IO procedure,
    // which waits for a cycle in progress, before this object's storage can go away.
    IOProcID proc = 0;
    if (OSStatus s = server_.createIOProc(
            aggregateID_, [this](const AudioBufferList& in, AudioBufferList& out) { render(in, out); }, proc))
        throw HALError::operation(s, "create IO proc");
    procID_ = proc;

    if (OSStatus s = server_.startDevice(aggregateID_, proc)) throw HALError::operation(s, "start aggregate device");

    log_.info(strprintf("Tap active for processes [%s]: tap %u, aggregate %u", joinIDs(processObjectIDs_).c_str(),
                        tapID_, aggregateID_));
}

uint32_t ProcessTap::packPairing(std::optional<ChannelPairing> pairing) noexcept {
    if (!pairing) return 0;
    // Offsets and widths that do not fit a byte name channels no device has: such a pairing is
    // refused by the render path's channel-count check, so it is stored as unpaired.
    auto fits = [](int v) { return v >= 0 && v <= 0xff; };
    if (!fits(pairing->mainOffset) || !fits(pairing->phonesOffset) || !fits(pairing->width)) return 0;
    return 0x80000000u | (static_cast<uint32_t>(pairing->mainOffset) << 16) |
           (static_cast<uint32_t>(pairing->phonesOffset) << 8) | static_cast<uint32_t>(pairing->width);
}

std::optional<ProcessTap::ChannelPairing> ProcessTap::unpackPairing(uint32_t packed) noexcept {
    if (!(packed & 0x80000000u)) return std::nullopt;
    return ChannelPairing{static_cast<int>((packed >> 16) & 0xff), static_cast<int>((packed >> 8) & 0xff),
                          static_cast<int>(packed & 0xff)};
}

void ProcessTap::teardown() {
    // Statuses are ignored: there is nothing better to do with a failure here.
    if (aggregateID_ != 0) {
        if (procID_) {
            server_.stopDevice(aggregateID_, *procID_);
            server_.destroyIOProc(aggregateID_, *procID_);
        }
        server_.destroyAggregateDevice(aggregateID_);
    }
    if (tapID_ != 0) server_.destroyProcessTap(tapID_);
}

void ProcessTap::stop() {
    teardown();
    procID_.reset();
    tapID_ = 0;
    aggregateID_ = 0;
}

void ProcessTap::setVolume(float v) { volume_.store(clampControl(v), std::memory_order_relaxed); }
void ProcessTap::setCueVolume(float v) { cueVolume_.store(clampControl(v), std::memory_order_relaxed); }
void ProcessTap::setPhonesBusGain(float v) { phonesBusGain_.store(clampControl(v), std::memory_order_relaxed); }
void ProcessTap::setMuted(bool muted) { isMuted_.store(muted, std::memory_order_relaxed); }
void ProcessTap::setPhonesMode(PhonesMode mode) { phonesMode_.store(mode, std::memory_order_relaxed); }
void ProcessTap::setPanicked(bool panicked) { panicked_.store(panicked, std::memory_order_relaxed); }
void ProcessTap::setRecordsToMain(bool records) { recordsToMain_.store(records, std::memory_order_relaxed); }

float ProcessTap::takePeak() {
    // One atomic exchange, so a peak raised between reading and clearing is not lost.
    return peak_.exchange(0.0f, std::memory_order_relaxed);
}

bool ProcessTap::isAnyProcessPlaying() const {
    HAL hal(server_);
    for (AudioObjectID id : processObjectIDs_) {
        try {
            if (hal.read<uint32_t>(id, sel::processIsRunningOutput) != 0) return true;
        } catch (const HALError&) {}
    }
    return false;
}

bool ProcessTap::isAggregateAlive() const {
    if (aggregateID_ == 0) return false;
    try {
        return HAL(server_).read<uint32_t>(aggregateID_, sel::deviceIsAlive) != 0;
    } catch (const HALError&) {
        return false;
    }
}

void ProcessTap::meter(const AudioBuffer& buffer, int start, int count) noexcept {
    if (!buffer.data) return;
    const auto* s = static_cast<const float*>(buffer.data);
    const size_t ch = stride(buffer.numberChannels);
    const size_t frames = (buffer.dataByteSize / 4) / ch;
    float highest = 0.0f;
    if (start == 0 && static_cast<size_t>(count) == ch) {
        highest = peakOf(s, frames * ch);
    } else {
        // Four independent maxima instead of one long dependency chain.
        float lanes[4] = {};
        const auto n = static_cast<size_t>(count);
        for (size_t f = 0; f < frames; ++f)
            for (size_t j = 0; j < n; ++j) {
                float& lane = lanes[(f * n + j) & 3];
                lane = std::max(lane, std::fabs(s[f * ch + static_cast<size_t>(start) + j]));
            }
        highest = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    }
    // Raise only; takePeak may clear it concurrently.
    float current = peak_.load(std::memory_order_relaxed);
    while (highest > current && !peak_.compare_exchange_weak(current, highest, std::memory_order_relaxed)) {}
}

void ProcessTap::feedLane(const AudioBuffer& buffer, uint32_t channelOffset) noexcept {
    RecordingLaneFeed* lane = recordingLane_.get();
    if (!lane || lane->armed() == 0 || !buffer.data) return;
    const int32_t generation = lane->generation();
    if (generation != recordGeneration_) {
        // A new capture: this application starts at the present instant of the lane's time line.
        recordGeneration_ = generation;
        recordCursor_ = lane->currentFrame();
    }
    recordCursor_ += lane->write(static_cast<const float*>(buffer.data), buffer.dataByteSize, buffer.numberChannels,
                                 channelOffset, recordCursor_);
}

void ProcessTap::logShape(const AudioBufferList& input, const AudioBufferList& output) {
    // Kept verbatim on purpose: this exact text is what the logs are searched for.
    log_.notice(strprintf("SHAPE out[%ld]: %s | in[%ld]: %s | float32=%s", static_cast<long>(output.numberBuffers),
                          bufferShape(output).c_str(), static_cast<long>(input.numberBuffers),
                          bufferShape(input).c_str(), isFloat32_.load(std::memory_order_relaxed) ? "true" : "false"));
}

void ProcessTap::logPeakDiag(const AudioBufferList& input, const AudioBufferList& output, float mainTarget, float vol) {
    // Kept verbatim on purpose: this exact text is what the logs are searched for.
    log_.notice(strprintf("PEAKDIAG n=%llu inPeaks=[%s] outPeaks=[%s] target=%f vol=%f maxTap=%f maxIn0=%f",
                          static_cast<unsigned long long>(renderCount_.load(std::memory_order_relaxed)),
                          bufferPeaks(input).c_str(), bufferPeaks(output).c_str(), static_cast<double>(mainTarget),
                          static_cast<double>(vol), static_cast<double>(diagInPeak_),
                          static_cast<double>(diagOutPeak_)));
}

void ProcessTap::render(const AudioBufferList& input, AudioBufferList& output) noexcept {
    const uint64_t cycle = renderCount_.load(std::memory_order_relaxed) + 1;
    renderCount_.store(cycle, std::memory_order_relaxed);

    // Each control parameter is read once per cycle.
    const bool muted = isMuted_.load(std::memory_order_relaxed);
    const std::optional<ChannelPairing> pairing = unpackPairing(pairing_.load(std::memory_order_relaxed));
    const bool paired = pairing.has_value();
    const bool panic = panicked_.load(std::memory_order_relaxed);

    // Hard mute: silence at once; the ramped gains keep their values for the unmute.
    if (muted && !paired) {
        for (uint32_t i = 0; i < output.numberBuffers; ++i) zero(output.buffers[i]);
        return;
    }

    const AudioBuffer* tap = input.numberBuffers > 0 ? &input.buffers[input.numberBuffers - 1] : nullptr;
    const bool hasTap = tap && tap->data;

    // Pass-through for streams the gain code cannot handle. A muted or panicked application is
    // still silenced here: passing it through would make it audible.
    if (!isFloat32_.load(std::memory_order_relaxed)) {
        for (uint32_t i = 0; i < output.numberBuffers; ++i) {
            AudioBuffer& out = output.buffers[i];
            if (!out.data) continue;
            if (!hasTap || muted || panic) {
                zero(out);
                continue;
            }
            const uint32_t n = std::min(out.dataByteSize, tap->dataByteSize);
            std::memcpy(out.data, tap->data, n);
            std::memset(static_cast<char*>(out.data) + n, 0, out.dataByteSize - n);
        }
        return;
    }

    // Targets.
    const float vol = volume_.load(std::memory_order_relaxed);
    float mainTarget = muted ? 0.0f : gainForControl(vol);
    float cueTarget;
    switch (phonesMode_.load(std::memory_order_relaxed)) {
    case PhonesMode::cue:
        cueTarget = gainForControl(cueVolume_.load(std::memory_order_relaxed));
        break;
    case PhonesMode::silent:
        cueTarget = 0.0f;
        break;
    default:
        cueTarget = mainTarget;
        break;
    }
    float phonesTarget = cueTarget * phonesBusGain_.load(std::memory_order_relaxed);
    if (panic) {
        mainTarget = 0.0f;
        phonesTarget = 0.0f;
    }
    float g = currentGain_.load(std::memory_order_relaxed);
    float c = currentCueGain_.load(std::memory_order_relaxed);
    const float k = rampCoefficient_.load(std::memory_order_relaxed);
    const bool records = recordsToMain_.load(std::memory_order_relaxed);

    // Paired buses: MAIN and PHONES on two channel ranges of one output.
    if (output.numberBuffers == 1 && paired) {
        const int mainOff = pairing->mainOffset;
        const int phonesOff = pairing->phonesOffset;
        const int width = pairing->width;
        AudioBuffer& out = output.buffers[0];
        const int need = std::max(mainOff, phonesOff) + width;
        if (static_cast<int64_t>(out.numberChannels) >= need && out.data && hasTap) {
            const auto channels = static_cast<int>(out.numberChannels);
            const ChannelSlice mainSlice = slice(mainOff, width, channels);
            const ChannelSlice phonesSlice = slice(phonesOff, width, channels);
            zero(out);
            const auto* src = static_cast<const float*>(tap->data);
            auto* dst = static_cast<float*>(out.data);
            const size_t sn = tap->dataByteSize / 4, dn = out.dataByteSize / 4;
            g = mix(src, tap->numberChannels, sn, dst, out.numberChannels, dn, mainSlice.start, mainSlice.count, g,
                    mainTarget, k);
            c = mix(src, tap->numberChannels, sn, dst, out.numberChannels, dn, phonesSlice.start, phonesSlice.count, c,
                    phonesTarget, k);
            meter(out, mainSlice.start, mainSlice.count);
            if (records) feedLane(out, static_cast<uint32_t>(mainSlice.start));
            currentGain_.store(g, std::memory_order_relaxed);
            currentCueGain_.store(c, std::memory_order_relaxed);
            return;
        }
    }

    if (!shapeLogged_.load(std::memory_order_relaxed)) {
        shapeLogged_.store(true, std::memory_order_relaxed);
        try {
            logShape(input, output);
        } catch (...) { // never abort the IO thread over a diagnostic
        }
    }

    for (uint32_t i = 0; i < output.numberBuffers; ++i) {
        AudioBuffer& out = output.buffers[i];
        if (!out.data) continue;
        if (!hasTap) {
            zero(out);
            continue;
        }
        const uint32_t ch = stride(out.numberChannels);
        const size_t samples = out.dataByteSize / 4;
        const size_t sn = tap->dataByteSize / 4;
        auto* dst = static_cast<float*>(out.data);
        g = mix(static_cast<const float*>(tap->data), tap->numberChannels, sn, dst, out.numberChannels, samples, 0,
                static_cast<int>(ch), g, mainTarget, k);
        const size_t written = std::min(samples / ch, sn / stride(tap->numberChannels)) * ch;
        if (written < samples) std::memset(dst + written, 0, (samples - written) * sizeof(float));
        meter(out, 0, static_cast<int>(ch));
        if (records && i == 0) feedLane(out, 0);
    }
    currentGain_.store(g, std::memory_order_relaxed);

    if (!diagLogged_.load(std::memory_order_relaxed)) {
        if (input.numberBuffers > 0) {
            diagInPeak_ = std::max(diagInPeak_, bufferPeak(*tap));
            diagOutPeak_ = std::max(diagOutPeak_, bufferPeak(input.buffers[0]));
        }
        if (cycle % 500 == 0) {
            try {
                logPeakDiag(input, output, mainTarget, vol);
            } catch (...) {}
            if (cycle >= 2500) diagLogged_.store(true, std::memory_order_relaxed);
        }
    }
}

} // namespace orevant
