#pragma once
// The four lane operations the render path needs of a recording lane.
// All are called on the tap's IO thread: wait-free, no allocation, no lock, no system call.
#include <cstdint>

namespace orevant {

class RecordingLaneFeed {
public:
    virtual ~RecordingLaneFeed() = default;
    // Non-zero while a capture is running.
    virtual int32_t armed() const noexcept = 0;
    // Changes with every new capture, so a tap restarts its cursor on the lane's time line.
    virtual int32_t generation() const noexcept = 0;
    // The lane's time-line position of the present host-clock instant.
    virtual int64_t currentFrame() const noexcept = 0;
    // Adds the frames of an interleaved float buffer (taking the two channels from
    // `channelOffset`, a mono buffer into both) at `atFrame`; returns the frames taken.
    virtual int64_t write(const float* samples, uint32_t byteSize, uint32_t channels, uint32_t channelOffset,
                          int64_t atFrame) noexcept = 0;
};

} // namespace orevant
