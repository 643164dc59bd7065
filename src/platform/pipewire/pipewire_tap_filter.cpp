#include "platform/pipewire/pipewire_tap_filter.h"

#include "platform/pipewire/pipewire_api.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace orevant {

struct PipeWireTapFilter::Hook {
    spa_hook listener{};
};

struct TapFilterCallbacks {
    static void stateChanged(void* data, pw_filter_state old, pw_filter_state state, const char* error) {
        (void)old;
        (void)error;
        static_cast<PipeWireTapFilter*>(data)->state_.store(state, std::memory_order_relaxed);
    }
    static void process(void* data, spa_io_position* position) {
        if (!position) return;
        static_cast<PipeWireTapFilter*>(data)->process(static_cast<uint32_t>(position->clock.duration));
    }
};

namespace {
const pw_filter_events kFilterEvents = [] {
    pw_filter_events e{};
    e.version = PW_VERSION_FILTER_EVENTS;
    e.state_changed = &TapFilterCallbacks::stateChanged;
    e.process = &TapFilterCallbacks::process;
    return e;
}();

void* addPort(pw_filter* filter, pw_direction direction, const std::string& name, const std::string& channel) {
    pw_properties* props = pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME,
                                             name.c_str(), PW_KEY_AUDIO_CHANNEL, channel.c_str(), nullptr);
    return pw_filter_add_port(filter, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, sizeof(void*), props, nullptr, 0);
}
} // namespace

PipeWireTapFilter::PipeWireTapFilter(pw_core* core, const std::string& nodeName, const std::string& description,
                                     const std::vector<Output>& outputs)
    : hook_(new Hook) {
    // No media.class: the session manager leaves the filter alone, and we link it ourselves.
    pw_properties* props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_NODE_NAME, nodeName.c_str(), PW_KEY_NODE_DESCRIPTION,
                          description.c_str(), PW_KEY_NODE_AUTOCONNECT, "false", nullptr);
    filter_ = pw_filter_new(core, nodeName.c_str(), props);
    if (!filter_) return;
    pw_filter_add_listener(filter_, &hook_->listener, &kFilterEvents, this);
    inPorts_.push_back(addPort(filter_, PW_DIRECTION_INPUT, "input_FL", "FL"));
    inPorts_.push_back(addPort(filter_, PW_DIRECTION_INPUT, "input_FR", "FR"));
    for (size_t d = 0; d < outputs.size(); ++d) {
        const auto& channels = outputs[d].channels;
        for (size_t c = 0; c < channels.size(); ++c)
            outPorts_.push_back(
                addPort(filter_, PW_DIRECTION_OUTPUT, "output_" + std::to_string(d) + "_" + channels[c], channels[c]));
        outChannels_.push_back(static_cast<uint32_t>(channels.size()));
        out_.emplace_back(static_cast<size_t>(kMaxIOFrames) * std::max<size_t>(channels.size(), 1), 0.0f);
    }
    tap_.assign(static_cast<size_t>(kMaxIOFrames) * 2, 0.0f);
    for (size_t d = 0; d < out_.size(); ++d) outBuffers_.push_back(AudioBuffer{outChannels_[d], 0, out_[d].data()});
    tapBuffer_ = AudioBuffer{2, 0, tap_.data()};
}

PipeWireTapFilter::~PipeWireTapFilter() {
    setBlock(nullptr);
    // Removes the filter from the data loop before its buffers go.
    if (filter_) pw_filter_destroy(filter_);
    delete hook_;
}

bool PipeWireTapFilter::connect() {
    if (!filter_) return false;
    for (void* p : inPorts_)
        if (!p) return false;
    for (void* p : outPorts_)
        if (!p) return false;
    return pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0) == 0;
}

bool PipeWireTapFilter::isReady() const {
    const int s = state_.load(std::memory_order_relaxed);
    return s == PW_FILTER_STATE_PAUSED || s == PW_FILTER_STATE_STREAMING;
}

bool PipeWireTapFilter::hasFailed() const { return state_.load(std::memory_order_relaxed) == PW_FILTER_STATE_ERROR; }

uint32_t PipeWireTapFilter::nodeID() const { return filter_ ? pw_filter_get_node_id(filter_) : 0; }

void PipeWireTapFilter::setActive(bool active) {
    if (filter_) pw_filter_set_active(filter_, active);
}

void PipeWireTapFilter::setBlock(const IOProcBlock* block) {
    block_.store(block, std::memory_order_seq_cst);
    // A cycle that began before the store may still call the old block: wait it out (a cycle
    // lasts at most a few milliseconds; the bound only guards against a stalled data thread).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (busy_.load(std::memory_order_seq_cst) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
}

void PipeWireTapFilter::process(uint32_t frames) noexcept {
    busy_.fetch_add(1, std::memory_order_seq_cst);
    cycles_.fetch_add(1, std::memory_order_relaxed);
    lastFrames_.store(frames, std::memory_order_relaxed);
    const IOProcBlock* block = block_.load(std::memory_order_seq_cst);
    const bool fits = frames > 0 && frames <= kMaxIOFrames;
    // The inputs are taken every cycle, used or not: a buffer left unread stays queued, and the
    // next cycles would read stale ones.
    const auto* left = static_cast<const float*>(pw_filter_get_dsp_buffer(inPorts_[0], frames));
    const auto* right = static_cast<const float*>(pw_filter_get_dsp_buffer(inPorts_[1], frames));

    if (block && fits) {
        float* tap = tap_.data();
        for (uint32_t f = 0; f < frames; ++f) {
            tap[2 * f] = left ? left[f] : 0.0f;
            tap[2 * f + 1] = right ? right[f] : 0.0f;
        }
        tapBuffer_.dataByteSize = frames * 2 * sizeof(float);
        for (size_t d = 0; d < outBuffers_.size(); ++d)
            outBuffers_[d].dataByteSize = frames * std::max<uint32_t>(outChannels_[d], 1) * sizeof(float);
        const AudioBufferList input{1, &tapBuffer_};
        AudioBufferList output{static_cast<uint32_t>(outBuffers_.size()), outBuffers_.data()};
        (*block)(input, output);
    }

    size_t port = 0;
    for (size_t d = 0; d < out_.size(); ++d) {
        const uint32_t channels = outChannels_[d];
        const float* src = out_[d].data();
        for (uint32_t c = 0; c < channels; ++c, ++port) {
            auto* dst = static_cast<float*>(pw_filter_get_dsp_buffer(outPorts_[port], frames));
            if (!dst) continue;
            if (!block || !fits) {
                std::memset(dst, 0, frames * sizeof(float));
                continue;
            }
            for (uint32_t f = 0; f < frames; ++f) dst[f] = src[f * channels + c];
        }
    }
    busy_.fetch_sub(1, std::memory_order_seq_cst);
}

} // namespace orevant
