#pragma once
// Helpers of the recording tests: a writer queue that shares one stepped queue (and so one
// virtual clock) with the main queue, a render-side writer that follows the lane's writer
// contract, and reading WAV files back.
#include "platform/manual_main_queue.h"
#include "recording/recording_lane.h"
#include "support/scoped_env.h"

#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant::test {

// A task queue that forwards to a stepped queue: every lane's writer queue and the main queue
// then run on one virtual clock, in one deterministic order.
class SharedQueueRef final : public TaskQueue {
public:
    explicit SharedQueueRef(ManualMainQueue& queue) : queue_(queue) {}
    TaskHandle post(Task task) override { return queue_.post(std::move(task)); }
    TaskHandle postAfter(double seconds, Task task) override { return queue_.postAfter(seconds, std::move(task)); }
    bool isCurrent() const override { return queue_.isCurrent(); }
    double now() const override { return queue_.now(); }

private:
    ManualMainQueue& queue_;
};

// One render-side writer: its own cursor and the last generation it saw.
struct LaneWriter {
    int64_t cursor = 0;
    int32_t seenGeneration = 0;

    int64_t write(RecordingLaneFeed& lane, const float* samples, uint32_t frames, uint32_t channels,
                  uint32_t channelOffset = 0) {
        if (!lane.armed()) return 0;
        if (lane.generation() != seenGeneration) {
            seenGeneration = lane.generation();
            cursor = lane.currentFrame();
        }
        const int64_t n = lane.write(samples, frames * channels * 4, channels, channelOffset, cursor);
        cursor += n;
        return n;
    }
};

struct WavContents {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples; // interleaved
    int64_t frames() const { return channels ? static_cast<int64_t>(samples.size()) / channels : 0; }
    float left(int64_t frame) const { return samples[static_cast<size_t>(frame * channels)]; }
    float right(int64_t frame) const { return samples[static_cast<size_t>(frame * channels + 1)]; }
};

inline std::optional<WavContents> readWav(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return std::nullopt;
    WavContents wav;
    wav.sampleRate = info.samplerate;
    wav.channels = info.channels;
    wav.format = info.format;
    wav.samples.resize(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file, wav.samples.data(), info.frames);
    sf_close(file);
    wav.samples.resize(static_cast<size_t>(read * info.channels));
    return wav;
}

// The two sizes a RIFF/WAVE header declares: the RIFF chunk and the data chunk.
struct WavSizes {
    uint64_t riffBytes = 0;
    uint64_t dataBytes = 0;
};

inline std::optional<WavSizes> readWavSizes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const auto u32 = [&in]() {
        unsigned char b[4] = {};
        in.read(reinterpret_cast<char*>(b), 4);
        return static_cast<uint64_t>(b[0]) | static_cast<uint64_t>(b[1]) << 8 | static_cast<uint64_t>(b[2]) << 16 |
               static_cast<uint64_t>(b[3]) << 24;
    };
    char id[4];
    if (!in.read(id, 4) || std::string(id, 4) != "RIFF") return std::nullopt;
    WavSizes sizes;
    sizes.riffBytes = u32();
    if (!in.read(id, 4) || std::string(id, 4) != "WAVE") return std::nullopt;
    while (in.read(id, 4)) {
        const uint64_t size = u32();
        if (std::string(id, 4) == "data") {
            sizes.dataBytes = size;
            return sizes;
        }
        in.seekg(static_cast<std::streamoff>(size + (size & 1)), std::ios::cur);
    }
    return std::nullopt;
}

} // namespace orevant::test
