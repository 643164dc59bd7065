#include "platform/sim/sim_output_history.h"

#include <algorithm>
#include <cstring>

namespace orevant {

void SimOutputHistory::reset(uint32_t channels, size_t capacityFrames) {
    channels_ = channels;
    capacity_ = channels ? capacityFrames : 0;
    written_ = 0;
    samples_.assign(capacity_ * channels_, 0.0f);
}

void SimOutputHistory::append(const float* interleaved, size_t frames) noexcept {
    if (capacity_ == 0) {
        written_ += frames;
        return;
    }
    // Only the newest `capacity_` frames of a long append can be kept.
    const size_t skip = frames > capacity_ ? frames - capacity_ : 0;
    size_t at = (written_ + skip) % capacity_;
    for (size_t done = skip; done < frames;) {
        const size_t run = std::min(frames - done, capacity_ - at);
        std::memcpy(samples_.data() + at * channels_, interleaved + done * channels_, run * channels_ * sizeof(float));
        done += run;
        at = (at + run) % capacity_;
    }
    written_ += frames;
}

std::vector<float> SimOutputHistory::channel(uint32_t channel, size_t frames) const {
    std::vector<float> out;
    if (channel >= channels_) return out;
    const size_t kept = frameCount();
    const size_t n = frames == 0 ? kept : std::min(frames, kept);
    if (n == 0) return out;
    out.reserve(n);
    // The oldest of the last n frames sits n frames behind the next write (n ≤ capacity).
    size_t at = (written_ - n) % capacity_;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(samples_[at * channels_ + channel]);
        if (++at == capacity_) at = 0;
    }
    return out;
}

} // namespace orevant
