#include "capture/process_tap.h"

#include "audio/hal.h"
#include "capture/denormal_guard.h"
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

} // namespace

ProcessTap::ProcessTap(AudioServer& server, std::vector<AudioObjectID> processObjectIDs, float volume, bool isMuted,
                       float cueVolume, std::shared_ptr<RecordingLaneFeed> recordingLane)
    : server_(server),
      kernels_(renderKernels()),
      volume_(volume),
      isMuted_(isMuted),
      cueVolume_(cueVolume),
      recordingLane_(std::move(recordingLane)),
      currentGain_(isMuted ? 0.0f : gainForControl(volume)),
      currentCueGain_(gainForControl(cueVolume)),
      processObjectIDs_(std::move(processObjectIDs)) {}

ProcessTap::~ProcessTap() {
    try {
        stop();
    } catch (...) { // a destructor must not throw; the log line is all that can be lost
    }
}

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
    const float k = orevant::rampCoefficient(rate);
    rampCoefficient_.store(k, std::memory_order_relaxed);
    ramp_ = RampTable::forCoefficient(k);

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
    logDiagnostics(); // IO has stopped: whatever it captured is complete
}

void ProcessTap::logDiagnostics() { diagnostics_.logPending(log_); }

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

void ProcessTap::raisePeak(float highest) noexcept {
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

void ProcessTap::captureDiagnostics(const AudioBufferList& input, const AudioBufferList& output, uint64_t cycle,
                                    float mainTarget, float vol) noexcept {
    if (!shapeLogged_.load(std::memory_order_relaxed)) {
        shapeLogged_.store(true, std::memory_order_relaxed);
        diagnostics_.captureShape(input, output, isFloat32_.load(std::memory_order_relaxed));
    }
    if (diagLogged_.load(std::memory_order_relaxed)) return;
    if (input.numberBuffers > 0) {
        auto peakOf = [this](const AudioBuffer& b) {
            return b.data ? kernels_.peak(static_cast<const float*>(b.data), b.dataByteSize / 4) : -1.0f;
        };
        diagInPeak_ = std::max(diagInPeak_, peakOf(input.buffers[input.numberBuffers - 1]));
        diagOutPeak_ = std::max(diagOutPeak_, peakOf(input.buffers[0]));
    }
    if (cycle % RenderDiagnostics::kPeakEvery == 0) {
        diagnostics_.capturePeaks(cycle, input, output, mainTarget, vol, diagInPeak_, diagOutPeak_, kernels_.peak);
        if (cycle >= RenderDiagnostics::kPeakEvery * RenderDiagnostics::kPeakSeries)
            diagLogged_.store(true, std::memory_order_relaxed);
    }
}

void ProcessTap::render(const AudioBufferList& input, AudioBufferList& output) noexcept {
    const DenormalGuard flushDenormals;
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
    BusRamp mainBus{currentGain_.load(std::memory_order_relaxed), mainTarget};
    BusRamp phonesBus{currentCueGain_.load(std::memory_order_relaxed), phonesTarget};
    const bool records = recordsToMain_.load(std::memory_order_relaxed);

    // One output buffer's job: the tap stream into the buffer, every sample of it written.
    auto job = [&](AudioBuffer& out, ChannelSlice main) {
        FrameJob j;
        j.source = static_cast<const float*>(tap->data);
        j.sourceChannels = tap->numberChannels;
        j.sourceSamples = tap->dataByteSize / 4;
        j.destination = static_cast<float*>(out.data);
        j.destinationChannels = out.numberChannels;
        j.destinationSamples = out.dataByteSize / 4;
        j.main = main;
        j.mainRamp = &mainBus;
        j.meter = true;
        j.ramp = &ramp_;
        return j;
    };

    // Paired buses: MAIN and PHONES on two channel ranges of one output.
    if (output.numberBuffers == 1 && paired) {
        AudioBuffer& out = output.buffers[0];
        const int need = std::max(pairing->mainOffset, pairing->phonesOffset) + pairing->width;
        if (static_cast<int64_t>(out.numberChannels) >= need && out.data && hasTap) {
            const auto channels = static_cast<int>(out.numberChannels);
            const ChannelSlice mainSlice = slice(pairing->mainOffset, pairing->width, channels);
            FrameJob j = job(out, mainSlice);
            j.phones = slice(pairing->phonesOffset, pairing->width, channels);
            j.phonesRamp = &phonesBus;
            raisePeak(kernels_.writeFrames(j).peak);
            if (records) feedLane(out, static_cast<uint32_t>(mainSlice.start));
            currentGain_.store(mainBus.gain, std::memory_order_relaxed);
            currentCueGain_.store(phonesBus.gain, std::memory_order_relaxed);
            return;
        }
    }

    // General path: every output buffer plays the application on all its channels; the gain runs
    // on from one buffer to the next.
    float highest = 0.0f;
    for (uint32_t i = 0; i < output.numberBuffers; ++i) {
        AudioBuffer& out = output.buffers[i];
        if (!out.data) continue;
        if (!hasTap) {
            zero(out);
            continue;
        }
        highest =
            std::max(highest, kernels_.writeFrames(job(out, {0, static_cast<int>(stride(out.numberChannels))})).peak);
        if (records && i == 0) feedLane(out, 0);
    }
    raisePeak(highest);
    currentGain_.store(mainBus.gain, std::memory_order_relaxed);
    captureDiagnostics(input, output, cycle, mainTarget, vol);
}

} // namespace orevant
