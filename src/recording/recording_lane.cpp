#include "recording/recording_lane.h"

#include "platform/host_clock.h"
#include "platform/logger.h"
#include "recording/run_on_queue.h"
#include "recording/wav_file.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <system_error>

namespace orevant {

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<int64_t>::is_always_lock_free);
static_assert(std::atomic<double>::is_always_lock_free);

namespace {

const Logger& laneLog() {
    static const Logger logger("RecordingLane");
    return logger;
}

constexpr int64_t kSilenceChunkFrames = 4096;
constexpr float kSilence[kSilenceChunkFrames * 2] = {};

int64_t floorMod(int64_t value, int64_t modulus) {
    const int64_t r = value % modulus;
    return r < 0 ? r + modulus : r;
}

void raiseTo(std::atomic<int64_t>& field, int64_t value) noexcept {
    int64_t seen = field.load(std::memory_order_relaxed);
    while (value > seen && !field.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {}
}

void raiseTo(std::atomic<float>& field, float value) noexcept {
    float seen = field.load(std::memory_order_relaxed);
    while (value > seen && !field.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {}
}

} // namespace

RecordingLane::RecordingLane(std::string sourceName, const HostClock& clock, MainQueue& mainQueue,
                             std::unique_ptr<TaskQueue> writerQueue, RecordingLaneOptions options)
    : sourceName_(std::move(sourceName)),
      clock_(clock),
      mainQueue_(mainQueue),
      options_(std::move(options)),
      ticksToSeconds_(clock.secondsPerTick()),
      writerQueue_(std::move(writerQueue)) {}

RecordingLane::~RecordingLane() {
    if (armed_.load(std::memory_order_relaxed) != 0)
        stopCapture();
    else
        closeFile();
}

int64_t RecordingLane::wholeSampleRate() const {
    return static_cast<int64_t>(sampleRate_.load(std::memory_order_relaxed));
}

// MARK: main queue

void RecordingLane::startCapture(uint64_t startHostTime, double sampleRate) {
    if (armed_.load(std::memory_order_relaxed) != 0) return;
    // A rate the device could not have: record at the default rather than divide by nonsense.
    if (!(sampleRate >= 1.0) || !std::isfinite(sampleRate)) sampleRate = 48000.0;

    runOnQueueAndWait(*writerQueue_, [&] {
        sampleRate_.store(sampleRate, std::memory_order_relaxed);
        if (!ringStorage_) {
            ringStorage_.reset(new std::atomic<float>[kRingFrames * 2]);
            ring_.store(ringStorage_.get(), std::memory_order_relaxed);
        }
        for (int64_t i = 0; i < kRingFrames * 2; ++i) ringStorage_[i].store(0.0f, std::memory_order_relaxed);
        const int64_t capacity = static_cast<int64_t>(kPreRollSeconds) * wholeSampleRate();
        if (capacity != preRollCapacity_) {
            preRoll_.assign(static_cast<size_t>(capacity) * 2, 0.0f);
            preRollCapacity_ = capacity;
        }
        drainedUpTo_.store(0, std::memory_order_relaxed);
        highWater_.store(0, std::memory_order_relaxed);
        preRollWrite_ = 0;
        preRollFilled_ = 0;
        startHostTime_.store(startHostTime, std::memory_order_relaxed);
    });
    generation_.fetch_add(1, std::memory_order_relaxed);
    // Release: a render thread that sees the lane armed also sees the cleared ring and time line.
    armed_.store(1, std::memory_order_release);

    writerTimer_ = std::make_shared<DrainTimer>();
    scheduleDrain(writerTimer_);
    laneLog().debug(strprintf("Lane capturing: %s", sourceName_.c_str()));
}

void RecordingLane::scheduleDrain(const std::shared_ptr<DrainTimer>& timer) {
    std::lock_guard lock(timer->mutex);
    if (!timer->active) return;
    timer->next = writerQueue_->postAfter(kDrainPeriodSeconds, [this, timer] {
        {
            std::lock_guard lock(timer->mutex);
            if (!timer->active) return;
        }
        drain(false);
        scheduleDrain(timer);
    });
}

void RecordingLane::stopCapture() {
    if (armed_.load(std::memory_order_relaxed) == 0) return;
    closeFile();
    armed_.store(0, std::memory_order_relaxed);
    if (writerTimer_) {
        {
            std::lock_guard lock(writerTimer_->mutex);
            writerTimer_->active = false;
            writerTimer_->next.cancel();
        }
        writerTimer_.reset();
        // Wait out a drain that may be running right now.
        runOnQueueAndWait(*writerQueue_, [] {});
    }
    laneLog().debug(strprintf("Lane stopped: %s", sourceName_.c_str()));
}

int64_t RecordingLane::currentFrame() const noexcept {
    const auto elapsed = static_cast<int64_t>(clock_.ticks() - startHostTime_.load(std::memory_order_relaxed));
    return std::llround(sampleRate_.load(std::memory_order_relaxed) * ticksToSeconds_ * static_cast<double>(elapsed));
}

void RecordingLane::openFile(const std::filesystem::path& url, int64_t startFrame) {
    if (fileOpen_) return;
    const double rate = sampleRate_.load(std::memory_order_relaxed);
    std::unique_ptr<AudioFile> file = options_.fileOpener ? options_.fileOpener(url, rate) : openWavFile(url, rate);
    if (!file) throw AudioFileError(url.string() + ": no file", std::make_error_code(std::errc::io_error));

    url_ = url;
    fileOpen_ = true;
    stoppedAtSizeLimit_.store(false, std::memory_order_relaxed);
    writeFailed_.store(false, std::memory_order_relaxed);
    heardAnything_.store(false, std::memory_order_relaxed);
    runOnQueueAndWait(*writerQueue_, [&] {
        file_ = std::move(file);
        fileName_ = url.filename().string();
        bytesWritten_.store(0, std::memory_order_relaxed);
        clipFrames_.store(0, std::memory_order_relaxed);
        clipStartFrame_.store(startFrame, std::memory_order_relaxed);
        flushPreRoll(startFrame);
    });
    laneLog().debug(strprintf("Lane file: %s", url.filename().c_str()));
}

void RecordingLane::closeFile() {
    if (!fileOpen_) return;
    runOnQueueAndWait(*writerQueue_, [&] {
        drain(true);
        file_.reset(); // finalises the header
    });
    fileOpen_ = false;
    laneLog().debug(strprintf("Lane closed, %lld frames kept", static_cast<long long>(clipFrames())));
}

void RecordingLane::discardIfSilent() {
    // Only a closed file: an open one still belongs to the writer queue.
    if (fileOpen_ || !url_ || heardAnything_.load(std::memory_order_relaxed)) return;
    std::error_code ignored;
    std::filesystem::remove(*url_, ignored);
    url_.reset();
    laneLog().debug(strprintf("Discarded silent lane: %s", sourceName_.c_str()));
}

// MARK: IO threads

int64_t RecordingLane::write(const float* samples, uint32_t byteSize, uint32_t channels, uint32_t channelOffset,
                             int64_t atFrame) noexcept {
    if (armed_.load(std::memory_order_acquire) == 0) return 0;
    std::atomic<float>* ring = ring_.load(std::memory_order_relaxed);
    if (ring == nullptr || channels < 1 || atFrame < 0) return 0;

    // A left channel outside the frame, or no data, takes nothing (never read past the buffer).
    const int64_t n = (samples == nullptr || channelOffset >= channels) ? 0 : (byteSize / 4) / channels;
    const bool hasRight = channelOffset + 1 < channels;
    float peak = 0.0f;
    int64_t lastSignal = -1;
    int64_t slot = atFrame % kRingFrames;
    const float* frame = n > 0 ? samples + channelOffset : nullptr;
    for (int64_t i = 0; i < n; ++i, frame += channels) {
        const float left = frame[0];
        const float right = hasRight ? frame[1] : left;
        // Two taps may feed one lane at the same time; an atomic add keeps both.
        ring[2 * slot].fetch_add(left, std::memory_order_relaxed);
        ring[2 * slot + 1].fetch_add(right, std::memory_order_relaxed);
        const float p = std::max(std::fabs(left), std::fabs(right));
        if (p > peak) peak = p;
        if (p > kSignalThreshold) lastSignal = atFrame + i;
        if (++slot == kRingFrames) slot = 0;
    }
    raiseTo(signalPeak_, peak);
    if (lastSignal >= 0) {
        lastSignalFrame_.store(lastSignal, std::memory_order_relaxed);
        heardAnything_.store(true, std::memory_order_relaxed);
    }
    raiseTo(highWater_, atFrame + n);
    return n;
}

// MARK: writer queue

void RecordingLane::drain(bool isFinal) {
    std::atomic<float>* ring = ringStorage_.get();
    if (ring == nullptr) return;
    const int64_t target = highWater_.load(std::memory_order_relaxed);
    const int64_t upTo = target - (isFinal ? 0 : wholeSampleRate());
    const int64_t drained = drainedUpTo_.load(std::memory_order_relaxed);
    if (drained >= upTo) return;
    // The ring holds the last ring length of frames before `target`; older ones have been
    // overwritten, and what is left of them counts as silence.
    const int64_t from = std::max(target - kRingFrames, drained);
    const int64_t count = upTo - from;
    if (count < 1) return;
    // Hands the frames [from, upTo) to `take`, oldest first, leaving silence in the ring.
    auto takeFromRing = [&](auto&& take) {
        int64_t slot = from % kRingFrames;
        for (int64_t i = 0; i < count; ++i) {
            take(i, ring[2 * slot].exchange(0.0f, std::memory_order_relaxed),
                 ring[2 * slot + 1].exchange(0.0f, std::memory_order_relaxed));
            if (++slot == kRingFrames) slot = 0;
        }
        drainedUpTo_.store(upTo, std::memory_order_relaxed);
    };

    if (!file_) {
        const int64_t skipped = std::min(from - drained, preRollCapacity_);
        for (int64_t i = 0; i < skipped; ++i) pushPreRoll(0.0f, 0.0f);
        takeFromRing([&](int64_t, float left, float right) { pushPreRoll(left, right); });
        return;
    }

    try {
        scratch_.resize(static_cast<size_t>(count) * 2);
    } catch (const std::bad_alloc&) {
        return; // try again at the next drain; nothing has left the ring
    }
    takeFromRing([&](int64_t i, float left, float right) {
        scratch_[2 * i] = left;
        scratch_[2 * i + 1] = right;
    });

    // The file's next frame belongs to time-line frame `expected`. Whatever the file is missing
    // before `from` (frames skipped as overwritten, a range whose write failed) becomes silence,
    // so every file of a take stays aligned with the others; frames before the file's start are
    // dropped.
    const int64_t expected =
        clipStartFrame_.load(std::memory_order_relaxed) + clipFrames_.load(std::memory_order_relaxed);
    if (upTo <= expected) return;
    if (from > expected && appendSilence(from - expected) < from - expected) return;
    const int64_t skip = std::max<int64_t>(0, expected - from);
    if (appendToFile(scratch_.data() + 2 * skip, count - skip) > 0 && !isFinal) checkSizeCeiling();
}

void RecordingLane::pushPreRoll(float left, float right) {
    if (preRollCapacity_ < 1) return;
    const int64_t slot = preRollWrite_ % preRollCapacity_;
    preRoll_[2 * slot] = left;
    preRoll_[2 * slot + 1] = right;
    preRollWrite_ += 1;
    if (preRollFilled_ < preRollCapacity_) preRollFilled_ += 1;
}

void RecordingLane::flushPreRoll(int64_t startFrame) {
    if (!file_) return;
    const int64_t capacity = preRoll_.empty() ? 0 : preRollCapacity_;
    int64_t avail = std::min(capacity, preRollFilled_);
    const int64_t firstHeld = drainedUpTo_.load(std::memory_order_relaxed) - avail;
    if (startFrame < firstHeld)
        appendSilence(firstHeld - startFrame);
    else
        avail -= std::min(startFrame - firstHeld, avail);
    if (avail >= 1) {
        const int64_t slot = floorMod(preRollWrite_ - avail, capacity);
        const int64_t first = std::min(avail, capacity - slot);
        appendToFile(preRoll_.data() + 2 * slot, first);
        if (avail > first) appendToFile(preRoll_.data(), avail - first);
    }
    preRollWrite_ = 0;
    preRollFilled_ = 0;
}

int64_t RecordingLane::appendToFile(const float* interleaved, int64_t frames) {
    // After a failed write (a full disk) the file gets nothing more: retrying every drain would
    // only repeat the failure, and the take is being stopped.
    if (frames < 1 || writeFailed_.load(std::memory_order_relaxed)) return 0;
    const int64_t written = std::clamp<int64_t>(file_->writeFrames(interleaved, frames), 0, frames);
    clipFrames_.fetch_add(written, std::memory_order_relaxed);
    bytesWritten_.fetch_add(8 * written, std::memory_order_relaxed);
    if (written < frames) {
        writeFailed_.store(true, std::memory_order_relaxed);
        const std::string message =
            strprintf("Recording write failed: %s: %s; the take stops", fileName_.c_str(), file_->lastError().c_str());
        laneLog().error(message);
        if (options_.onWriteFailure) mainQueue_.post([report = options_.onWriteFailure, message] { report(message); });
    }
    return written;
}

int64_t RecordingLane::appendSilence(int64_t frames) {
    int64_t done = 0;
    while (done < frames) {
        const int64_t chunk = std::min(frames - done, kSilenceChunkFrames);
        const int64_t written = appendToFile(kSilence, chunk);
        done += written;
        if (written < chunk) break;
    }
    return done;
}

void RecordingLane::checkSizeCeiling() {
    if (bytesWritten_.load(std::memory_order_relaxed) < options_.sizeCeilingBytes) return;
    laneLog().error("Recording reached WAV's 4 GB ceiling; closing the take");
    stoppedAtSizeLimit_.store(true, std::memory_order_relaxed);
    if (options_.onSizeCeiling) mainQueue_.post(options_.onSizeCeiling);
}

} // namespace orevant
