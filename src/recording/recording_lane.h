#pragma once
// One source of a multitrack take, recorded to its own stereo float WAV file.
//
// Render threads add samples into a large ring at frame positions on the take's shared time
// line (write, wait-free). The lane's own serial writer queue drains the ring to the file every
// 250 ms, one second behind the newest frame; while no file is open the drained audio fills a
// three-second pre-roll instead, so a file opened late still begins three seconds earlier.
//
// Threads:
//   main queue   — construction, startCapture, stopCapture, openFile, closeFile, discardIfSilent,
//                  destruction, and the accessors.
//   IO threads   — armed, generation, currentFrame, write (no allocation, no lock, no system call).
//   writer queue — the drains and the pre-roll; openFile, closeFile and startCapture wait for
//                  their part of the work to run there.
#include "capture/recording_lane_feed.h"
#include "platform/main_queue.h"
#include "recording/audio_file.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class HostClock;

struct RecordingLaneOptions {
    // Audio bytes a file may hold before the take is stopped (below WAV's 4 GiB size fields).
    int64_t sizeCeilingBytes = 4'200'000'000;
    // Creates the lane's files; WAV through libsndfile unless replaced.
    AudioFileOpener fileOpener;
    // Posted to the main queue when the file reached the size ceiling: the take should stop.
    std::function<void()> onSizeCeiling;
    // Posted to the main queue, once per file, when a write to it failed (a full disk): the take
    // should stop. The text names the file and the reason.
    std::function<void(const std::string& message)> onWriteFailure;
};

class RecordingLane final : public RecordingLaneFeed {
public:
    static constexpr int64_t kRingFrames = 384'000;
    static constexpr float kSignalThreshold = 0.0001f;
    static constexpr double kDrainPeriodSeconds = 0.25;
    static constexpr double kPreRollSeconds = 3.0;
    static constexpr int64_t kDefaultSizeCeilingBytes = 4'200'000'000;
    static constexpr const char* kWriterQueueLabel = "com.brenlake.orevant.recorder";

    // `writerQueue` is the lane's own serial queue; `mainQueue` receives the size-ceiling request.
    RecordingLane(std::string sourceName, const HostClock& clock, MainQueue& mainQueue,
                  std::unique_ptr<TaskQueue> writerQueue, RecordingLaneOptions options = {});
    ~RecordingLane() override;
    RecordingLane(const RecordingLane&) = delete;
    RecordingLane& operator=(const RecordingLane&) = delete;

    // Main queue.
    void startCapture(uint64_t startHostTime, double sampleRate);
    void stopCapture();
    // Throws AudioFileError when the file cannot be created; the lane is then unchanged.
    void openFile(const std::filesystem::path& url, int64_t startFrame);
    void closeFile();
    void discardIfSilent();

    // IO threads (and any thread).
    int32_t armed() const noexcept override { return armed_.load(std::memory_order_acquire); }
    int32_t generation() const noexcept override { return generation_.load(std::memory_order_relaxed); }
    int64_t currentFrame() const noexcept override;
    int64_t write(const float* samples, uint32_t byteSize, uint32_t channels, uint32_t channelOffset,
                  int64_t atFrame) noexcept override;

    // Main queue.
    const std::string& sourceName() const { return sourceName_; }
    double sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    uint64_t startHostTime() const { return startHostTime_.load(std::memory_order_relaxed); }
    int64_t highWater() const { return highWater_.load(std::memory_order_relaxed); }
    float signalPeak() const { return signalPeak_.load(std::memory_order_relaxed); }
    int64_t lastSignalFrame() const { return lastSignalFrame_.load(std::memory_order_relaxed); }
    bool heardAnything() const { return heardAnything_.load(std::memory_order_relaxed); }
    int64_t drainedUpTo() const { return drainedUpTo_.load(std::memory_order_relaxed); }
    int64_t bytesWritten() const { return bytesWritten_.load(std::memory_order_relaxed); }
    int64_t clipFrames() const { return clipFrames_.load(std::memory_order_relaxed); }
    int64_t clipStartFrame() const { return clipStartFrame_.load(std::memory_order_relaxed); }
    bool stoppedAtSizeLimit() const { return stoppedAtSizeLimit_.load(std::memory_order_relaxed); }
    // A write to the current (or last) file failed; nothing more was written to it after that.
    bool writeFailed() const { return writeFailed_.load(std::memory_order_relaxed); }
    bool hasFile() const { return fileOpen_; }
    // The current file, or the last closed one until it is discarded.
    const std::optional<std::filesystem::path>& url() const { return url_; }
    // Frames the pre-roll can hold: three seconds at the capture rate.
    int64_t preRollCapacity() const { return preRollCapacity_; }

private:
    int64_t wholeSampleRate() const;
    struct DrainTimer;
    void scheduleDrain(const std::shared_ptr<DrainTimer>& timer);
    // Writer queue.
    void drain(bool isFinal);
    void pushPreRoll(float left, float right);
    void flushPreRoll(int64_t startFrame);
    int64_t appendToFile(const float* interleaved, int64_t frames);
    int64_t appendSilence(int64_t frames);
    void checkSizeCeiling();

    const std::string sourceName_;
    const HostClock& clock_;
    MainQueue& mainQueue_;
    const RecordingLaneOptions options_;
    const double ticksToSeconds_;

    // Shared with render threads.
    std::atomic<int32_t> armed_{0};
    std::atomic<int32_t> generation_{0};
    std::atomic<std::atomic<float>*> ring_{nullptr};
    std::atomic<uint64_t> startHostTime_{0};
    std::atomic<double> sampleRate_{48000.0};
    std::atomic<int64_t> highWater_{0};
    std::atomic<float> signalPeak_{0.0f};
    std::atomic<int64_t> lastSignalFrame_{0};
    std::atomic<bool> heardAnything_{false};
    std::unique_ptr<std::atomic<float>[]> ringStorage_;

    // Written on the writer queue, read on the main queue.
    std::atomic<int64_t> drainedUpTo_{0};
    std::atomic<int64_t> bytesWritten_{0};
    std::atomic<int64_t> clipFrames_{0};
    std::atomic<int64_t> clipStartFrame_{0};
    std::atomic<bool> stoppedAtSizeLimit_{false};
    std::atomic<bool> writeFailed_{false};

    // Writer queue only (main queue while the writer queue is idle).
    std::unique_ptr<AudioFile> file_;
    std::string fileName_;
    std::vector<float> preRoll_;
    int64_t preRollCapacity_ = 0;
    int64_t preRollWrite_ = 0;
    int64_t preRollFilled_ = 0;
    std::vector<float> scratch_;

    // Main queue only.
    bool fileOpen_ = false;
    std::optional<std::filesystem::path> url_;
    std::shared_ptr<DrainTimer> writerTimer_;

    // The periodic drain: shared with its own pending task, which outlives the lane when the
    // queue does, so a stopped timer never touches the lane again.
    struct DrainTimer {
        std::mutex mutex;
        bool active = true;
        TaskHandle next;
    };

    // Last, so it goes first: no queued drain outlives the state it works on.
    std::unique_ptr<TaskQueue> writerQueue_;
};

} // namespace orevant
