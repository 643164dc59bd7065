#pragma once
// Shared pieces of the capture tests: buffer lists built by hand, a recording lane that keeps
// what it was given, and a simulated server with a few devices.
#include "capture/process_tap.h"
#include "capture/recording_lane_feed.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace orevant::test {

// Interleaved float buffers and the buffer list that points at them.
class Buffers {
public:
    Buffers() { data_.reserve(16); }
    Buffers& add(uint32_t channels, size_t frames, float fill = 0.0f) {
        data_.emplace_back(static_cast<size_t>(std::max<uint32_t>(channels, 1)) * frames, fill);
        buffers_.push_back(AudioBuffer{channels, static_cast<uint32_t>(data_.back().size() * 4), data_.back().data()});
        relink();
        return *this;
    }
    // A stereo buffer with L = left and R = right in every frame.
    Buffers& addStereo(size_t frames, float left, float right) {
        add(2, frames);
        for (size_t f = 0; f < frames; ++f) {
            data_.back()[2 * f] = left;
            data_.back()[2 * f + 1] = right;
        }
        return *this;
    }
    Buffers& addNull(uint32_t channels, uint32_t bytes) {
        data_.emplace_back();
        buffers_.push_back(AudioBuffer{channels, bytes, nullptr});
        relink();
        return *this;
    }
    AudioBufferList& list() { return list_; }
    std::vector<float>& samples(size_t i) { return data_[i]; }
    float at(size_t buffer, size_t frame, size_t channel) const {
        const uint32_t ch = std::max<uint32_t>(buffers_[buffer].numberChannels, 1);
        return data_[buffer][frame * ch + channel];
    }
    void fill(float value) {
        for (auto& d : data_) std::fill(d.begin(), d.end(), value);
    }

private:
    void relink() {
        for (size_t i = 0; i < buffers_.size(); ++i)
            if (!data_[i].empty()) buffers_[i].data = data_[i].data();
        list_ = AudioBufferList{static_cast<uint32_t>(buffers_.size()), buffers_.data()};
    }
    std::vector<std::vector<float>> data_;
    std::vector<AudioBuffer> buffers_;
    AudioBufferList list_;
};

// A lane that records every write into preallocated storage (no allocation on the IO thread).
class FakeLane final : public RecordingLaneFeed {
public:
    struct Write {
        uint32_t byteSize = 0, channels = 0, channelOffset = 0;
        int64_t atFrame = 0;
        float firstLeft = 0, firstRight = 0;
    };
    FakeLane() { writes_.resize(20000); }
    int32_t armed() const noexcept override { return armed_.load(std::memory_order_relaxed); }
    int32_t generation() const noexcept override { return generation_.load(std::memory_order_relaxed); }
    int64_t currentFrame() const noexcept override { return currentFrame_.load(std::memory_order_relaxed); }
    int64_t write(const float* samples, uint32_t byteSize, uint32_t channels, uint32_t channelOffset,
                  int64_t atFrame) noexcept override {
        const size_t n = count_.load(std::memory_order_relaxed);
        if (n < writes_.size()) {
            Write& w = writes_[n];
            w = Write{byteSize, channels, channelOffset, atFrame, 0, 0};
            if (channels > 0 && byteSize >= 4 * channels) {
                w.firstLeft = samples[channelOffset];
                w.firstRight = channelOffset + 1 < channels ? samples[channelOffset + 1] : w.firstLeft;
            }
            count_.store(n + 1, std::memory_order_relaxed);
        }
        return channels ? static_cast<int64_t>(byteSize / 4 / channels) : 0;
    }

    void arm(int32_t generation, int64_t frame) {
        currentFrame_.store(frame);
        generation_.store(generation);
        armed_.store(1);
    }
    void disarm() { armed_.store(0); }
    size_t writeCount() const { return count_.load(); }
    const Write& writeAt(size_t i) const { return writes_[i]; }

private:
    std::atomic<int32_t> armed_{0};
    std::atomic<int32_t> generation_{0};
    std::atomic<int64_t> currentFrame_{0};
    std::atomic<size_t> count_{0};
    std::vector<Write> writes_;
};

// A simulated server with a stereo output (the default), a mono output and an 8-channel
// interface, and one process.
class SimFixture : public ::testing::Test {
protected:
    SimFixture() {
        speakers = system.addDevice(deviceSpec("speakers", 2));
        mono = system.addDevice(deviceSpec("mono", 1));
        interface8 = system.addDevice(deviceSpec("iface", 8, 48000.0, 0, transport::usb));
        headset = system.addDevice(deviceSpec("headset", 2, 48000.0, 0, transport::bluetooth));
        system.setDefaultOutput(speakers);
        process = system.addProcess(processSpec(501, true, sourceSpec(SimAudioSource::Kind::sine, 0.5f, 1000.0)));
        queue.runUntilIdle();
    }

    SimAudioEngine& audio() { return server.audio(); }
    ProcessTap::Output out(AudioObjectID id) { return {*server.string(id, sel::deviceUID, scope::global), id}; }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    AudioObjectID speakers = 0, mono = 0, interface8 = 0, headset = 0, process = 0;
};

} // namespace orevant::test
