#include "engine/meter_clock.h"

#include <algorithm>

namespace orevant {

MeterClock::MeterClock(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

MeterClock::~MeterClock() { timer_.cancel(); }

void MeterClock::start(std::function<void()> onTick) {
    timer_.cancel();
    timer_ = mainQueue_.postAfter(kIntervalSeconds, guard_.wrap([this, onTick] {
        // Re-armed first, so the clock keeps its period whatever the tick does.
        start(onTick);
        onTick();
    }));
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
    if (meterTick_ % kFrameEveryTicks != 0 || !hasPhone) return result;
    const bool silent =
        std::all_of(levels.begin(), levels.end(), [](const auto& entry) { return entry.second < kSilenceThreshold; });
    if (silent && metersWereSilent_) return result;
    metersWereSilent_ = silent;
    result.frame = std::move(levels);
    return result;
}

} // namespace orevant
