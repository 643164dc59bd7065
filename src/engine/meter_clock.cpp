#include "engine/meter_clock.h"

#include <algorithm>
#include <cmath>

namespace orevant {

MeterClock::MeterClock(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

MeterClock::~MeterClock() { timer_.cancel(); }

void MeterClock::start(std::function<void()> onTick) {
    onTick_ = std::move(onTick);
    asleep_ = false;
    lastTickAt_ = mainQueue_.now();
    arm(kIntervalSeconds);
}

void MeterClock::arm(double seconds) {
    timer_.cancel();
    timer_ = mainQueue_.postAfter(seconds, guard_.wrap([this] {
        // Re-armed first, so the clock keeps its period whatever the tick does.
        lastTickAt_ = mainQueue_.now();
        arm(kIntervalSeconds);
        sawNoTap_ = false;
        const std::function<void()> onTick = onTick_; // the tick may start the clock anew
        onTick();
        if (sawNoTap_ && levels_.empty() && metersWereSilent_) {
            timer_.cancel();
            asleep_ = true;
        }
    }));
}

void MeterClock::wake() {
    if (!asleep_) return;
    asleep_ = false;
    // The ticks slept through changed nothing but the count, which decides when frames go out.
    // The slack keeps a tick that falls due exactly now from being lost to rounding.
    const double slept = std::floor((mainQueue_.now() - lastTickAt_) / kIntervalSeconds + 1e-3);
    if (slept > 0.0) {
        meterTick_ += static_cast<int64_t>(slept);
        lastTickAt_ += slept * kIntervalSeconds;
    }
    arm(std::max(0.0, lastTickAt_ + kIntervalSeconds - mainQueue_.now()));
}

MeterClock::Tick MeterClock::tick(const std::map<std::string, float>& peaks, bool hasPhone) {
    Tick result;
    Levels levels;
    for (const auto& [bundleID, peak] : peaks) {
        auto it = levels_.find(bundleID);
        const float previous = it == levels_.end() ? 0.0f : it->second * kDecay;
        levels[bundleID] = std::max(previous, std::min(peak, 1.0f));
    }
    if (levels != levels_) {
        levels_ = levels;
        result.levelsChanged = true;
    }
    meterTick_ += 1;
    sawNoTap_ = peaks.empty();
    if (meterTick_ % kFrameEveryTicks != 0 || !hasPhone) return result;
    const bool silent =
        std::all_of(levels.begin(), levels.end(), [](const auto& entry) { return entry.second < kSilenceThreshold; });
    if (silent && metersWereSilent_) return result;
    metersWereSilent_ = silent;
    result.frame = std::move(levels);
    return result;
}

} // namespace orevant
