#pragma once
// The multitrack recorder: one RecordingLane per source, all on one time line. Capture runs on
// every lane together; a take opens one WAV file per lane in a folder, named with one stamp.
// Which sources get lanes and when recording starts and stops is the engine's decision.
//
// Threads: every method runs on the main queue. Each lane's disk work runs on its own writer
// queue, made by the factory given at construction with the label
// RecordingLane::kWriterQueueLabel.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"
#include "recording/recording_lane.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orevant {

class HostClock;

using TaskQueueFactory = std::function<std::unique_ptr<TaskQueue>(const std::string& label)>;

class MixRecorder {
public:
    // Every lane is made with `laneOptions`, except that the recorder answers their size-ceiling
    // requests itself (see setSizeCeilingHandler).
    MixRecorder(MainQueue& mainQueue, const HostClock& clock, TaskQueueFactory writerQueues,
                RecordingLaneOptions laneOptions = {});
    ~MixRecorder();
    MixRecorder(const MixRecorder&) = delete;
    MixRecorder& operator=(const MixRecorder&) = delete;

    // Runs on the main queue when a lane's file reached its size ceiling or a write to it failed
    // (see takeFailure); the engine sets it to stop the take.
    void setSizeCeilingHandler(std::function<void()> handler) { sizeCeilingHandler_ = std::move(handler); }

    void startCapture(double sampleRate);
    void stopCapture();
    void openTake(const std::filesystem::path& folder, const std::string& stamp);
    void closeTake();
    // The lane for `key`, created (and brought into the running capture and open take) if
    // there is none. Taps keep the returned lane for as long as they feed it.
    std::shared_ptr<RecordingLane> lane(const std::string& key, const std::string& sourceName);
    void removeLane(const std::string& key);
    // The newest frame any lane holds: the length of the capture so far, in frames.
    int64_t maxHighWater() const;

    bool isCapturing() const { return isCapturing_; }
    bool isTakeOpen() const { return isTakeOpen_; }
    const std::optional<std::filesystem::path>& takeFolder() const { return takeFolder_; }
    const std::string& takeStamp() const { return takeStamp_; }
    double sampleRate() const { return sampleRate_; }
    uint64_t startHostTime() const { return startHostTime_; }
    const std::map<std::string, std::shared_ptr<RecordingLane>>& lanes() const { return lanes_; }
    // Why the open (or last) take had to stop early: the first failed write, if any.
    const std::optional<std::string>& takeFailure() const { return takeFailure_; }

private:
    void openLaneFile(RecordingLane& lane);

    MainQueue& mainQueue_;
    const HostClock& clock_;
    TaskQueueFactory writerQueues_;
    RecordingLaneOptions laneOptions_;
    std::function<void()> sizeCeilingHandler_;

    std::map<std::string, std::shared_ptr<RecordingLane>> lanes_;
    bool isCapturing_ = false;
    bool isTakeOpen_ = false;
    std::optional<std::filesystem::path> takeFolder_;
    std::string takeStamp_;
    std::optional<std::string> takeFailure_;
    double sampleRate_ = 48000.0;
    uint64_t startHostTime_ = 0;
    LifetimeGuard guard_;
};

} // namespace orevant
