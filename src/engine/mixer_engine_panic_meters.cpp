// Panic (silence everything at once, reversibly) and the meter clock.
#include "engine/mixer_engine.h"

#include "engine/companion_bridge.h"

#include <algorithm>

namespace orevant {

void MixerEngine::setPanicked(bool on) {
    if (on == isPanicked_) return;
    isPanicked_ = on;
    log_.info(strprintf("Panic %s", on ? "engaged" : "released"));
    if (on) {
        coverageDropTask_.cancel();
        coverageDropTask_ = {};
        syncTaps();
    }
    for (const auto& [bundleID, running] : taps_) running->setPanicked(on);
    if (!on) scheduleCoverageDrop();
    changed();
}

void MixerEngine::startMeterClock() {
    meterTimer_.cancel();
    meterTimer_ = services_.mainQueue.postAfter(kMeterIntervalSeconds, [this, alive = weakAlive()] {
        if (!alive.lock()) return;
        // Re-armed first, so the clock keeps its period whatever the tick does.
        startMeterClock();
        meterTickNow();
    });
}

void MixerEngine::meterTickNow() {
    std::map<std::string, float> levels;
    for (const auto& [bundleID, running] : taps_) {
        auto it = meterLevels_.find(bundleID);
        const float previous = it == meterLevels_.end() ? 0.0f : it->second * kMeterDecay;
        const float peak = std::min(running->takePeak(), 1.0f);
        levels[bundleID] = std::max(previous, peak);
    }
    if (levels != meterLevels_) {
        meterLevels_ = levels;
        changed();
    }
    autoRecTick_ += 1;
    meterTick_ += 1;
    if (meterTick_ % kMeterFrameEveryTicks != 0) return;
    if (!iphoneEndpoint_) return;
    const bool silent = std::all_of(levels.begin(), levels.end(),
                                    [](const auto& entry) { return entry.second < kMeterSilenceThreshold; });
    if (silent && metersWereSilent_) return;
    metersWereSilent_ = silent;
    if (companionBridge_) companionBridge_->sendMeters(levels);
}

} // namespace orevant
