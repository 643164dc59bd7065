#include "recording/mix_recorder.h"

#include "platform/host_clock.h"
#include "platform/logger.h"
#include "recording/take_naming.h"

#include <algorithm>

namespace orevant {

namespace {

const Logger& recorderLog() {
    static const Logger logger("MixRecorder");
    return logger;
}

// How many numbered names a lane tries when its file name is taken.
constexpr int kMaxNameAttempts = 1000;

} // namespace

MixRecorder::MixRecorder(MainQueue& mainQueue, const HostClock& clock, TaskQueueFactory writerQueues,
                         RecordingLaneOptions laneOptions)
    : mainQueue_(mainQueue),
      clock_(clock),
      writerQueues_(std::move(writerQueues)),
      laneOptions_(std::move(laneOptions)) {
    // A lane may outlive the recorder (a tap holds it); its late request then reaches nobody.
    laneOptions_.onSizeCeiling = guard_.wrap([this] {
        if (sizeCeilingHandler_) sizeCeilingHandler_();
    });
    // Every lane of a full disk fails in turn: the first says why, and the take stops once.
    laneOptions_.onWriteFailure = guard_.wrap([this](const std::string& message) {
        if (takeFailure_) return;
        takeFailure_ = message;
        if (isTakeOpen_ && sizeCeilingHandler_) sizeCeilingHandler_();
    });
}

MixRecorder::~MixRecorder() { stopCapture(); }

void MixRecorder::startCapture(double sampleRate) {
    if (isCapturing_) return;
    sampleRate_ = sampleRate;
    startHostTime_ = clock_.ticks();
    isCapturing_ = true;
    for (auto& [key, lane] : lanes_) lane->startCapture(startHostTime_, sampleRate_);
    recorderLog().info(strprintf("Capture running @ %f Hz", sampleRate_));
}

void MixRecorder::stopCapture() {
    if (!isCapturing_) return;
    closeTake();
    isCapturing_ = false;
    for (auto& [key, lane] : lanes_) lane->stopCapture();
    recorderLog().info("Capture stopped");
}

void MixRecorder::openTake(const std::filesystem::path& folder, const std::string& stamp) {
    if (!isCapturing_ || isTakeOpen_) return;
    takeFolder_ = folder;
    takeStamp_ = stamp;
    takeFailure_.reset();
    isTakeOpen_ = true;
    for (auto& [key, lane] : lanes_) openLaneFile(*lane);
    recorderLog().info(strprintf("Take open: %ld source(s)", static_cast<long>(lanes_.size())));
}

void MixRecorder::closeTake() {
    if (!isTakeOpen_) return;
    isTakeOpen_ = false;
    for (auto& [key, lane] : lanes_) {
        lane->closeFile();
        lane->discardIfSilent();
    }
    recorderLog().info("Take closed");
}

std::shared_ptr<RecordingLane> MixRecorder::lane(const std::string& key, const std::string& sourceName) {
    if (auto found = lanes_.find(key); found != lanes_.end()) return found->second;
    auto lane = std::make_shared<RecordingLane>(sourceName, clock_, mainQueue_,
                                                writerQueues_(RecordingLane::kWriterQueueLabel), laneOptions_);
    lanes_.emplace(key, lane);
    if (isCapturing_) lane->startCapture(startHostTime_, sampleRate_);
    if (isTakeOpen_) openLaneFile(*lane);
    return lane;
}

void MixRecorder::removeLane(const std::string& key) {
    auto found = lanes_.find(key);
    if (found == lanes_.end()) return;
    auto lane = std::move(found->second);
    lanes_.erase(found);
    lane->closeFile();
    lane->discardIfSilent();
    lane->stopCapture();
}

int64_t MixRecorder::maxHighWater() const {
    int64_t most = 0;
    for (const auto& [key, lane] : lanes_) most = std::max(most, lane->highWater());
    return most;
}

void MixRecorder::openLaneFile(RecordingLane& lane) {
    const std::string name = takeFileName(takeStamp_, lane.sourceName());
    const std::string stem = name.substr(0, name.size() - 4); // without ".wav"
    const int64_t startFrame = lane.currentFrame() - static_cast<int64_t>(sampleRate_ * RecordingLane::kPreRollSeconds);
    // Two sources with one name, or two takes within one second, get numbered names rather
    // than writing over each other.
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string candidate = attempt == 1 ? name : stem + " " + std::to_string(attempt) + ".wav";
        try {
            lane.openFile(*takeFolder_ / candidate, startFrame);
            return;
        } catch (const AudioFileError& error) {
            if (error.code() == std::errc::file_exists && attempt < kMaxNameAttempts) continue;
            recorderLog().error(strprintf("Lane file could not open: %s", error.what()));
            return;
        } catch (const std::exception& error) {
            recorderLog().error(strprintf("Lane file could not open: %s", error.what()));
            return;
        }
    }
}

} // namespace orevant
