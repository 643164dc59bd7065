#pragma once
// The last frames a simulated device played, kept for reading back: a ring of interleaved
// samples whose length is fixed when it is made, so appending a cycle never allocates or moves
// what is kept.
//
// Threads: none of its own; the simulated audio engine calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orevant {

class SimOutputHistory {
public:
    // Drops what is kept and makes room for `capacityFrames` frames of `channels` channels.
    void reset(uint32_t channels, size_t capacityFrames);
    // Appends `frames` frames; the oldest give way once the ring is full.
    void append(const float* interleaved, size_t frames) noexcept;
    void clear() noexcept { written_ = 0; }

    size_t capacityFrames() const { return capacity_; }
    // Frames kept: those appended since the last clear, at most the capacity.
    size_t frameCount() const { return written_ < capacity_ ? written_ : capacity_; }
    // One channel's last `frames` kept frames (all kept when 0), oldest first.
    std::vector<float> channel(uint32_t channel, size_t frames = 0) const;

private:
    uint32_t channels_ = 0;
    size_t capacity_ = 0;
    size_t written_ = 0; // frames appended since the last clear
    std::vector<float> samples_;
};

} // namespace orevant
