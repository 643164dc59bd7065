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
    meterClockAsleep_ = false;
    lastMeterTickAt_ = services_.mainQueue.now();
    armMeterTick(kMeterIntervalSeconds);
}

void MixerEngine::armMeterTick(double seconds) {
    meterTimer_.cancel();
    meterTimer_ = services_.mainQueue.postAfter(seconds, [this, alive = weakAlive()] {
        if (!alive.lock()) return;
        // Re-armed first, so the clock keeps its period whatever the tick does.
        lastMeterTickAt_ = services_.mainQueue.now();
        armMeterTick(kMeterIntervalSeconds);
        meterTickNow();
        if (taps_.empty() && meterLevels_.empty() && metersWereSilent_) {
            meterTimer_.cancel();
            meterClockAsleep_ = true;
        }
    });
}

int64_t MixerEngine::meterTicksSlept() const {
    if (!meterClockAsleep_) return 0;
    // The slack keeps a tick that falls due exactly now from being lost to rounding.
    const double ticks = (services_.mainQueue.now() - lastMeterTickAt_) / kMeterIntervalSeconds + 1e-3;
    return ticks > 0.0 ? static_cast<int64_t>(ticks) : 0;
}

void MixerEngine::wakeMeterClock() {
    if (!meterClockAsleep_) return;
    const int64_t slept = meterTicksSlept();
    meterClockAsleep_ = false;
    meterTick_ += slept;
    autoRecTick_ += slept;
    lastMeterTickAt_ += static_cast<double>(slept) * kMeterIntervalSeconds;
    // The next tick keeps the period the clock had.
    const double due = lastMeterTickAt_ + kMeterIntervalSeconds - services_.mainQueue.now();
    armMeterTick(due > 0.0 ? due : 0.0);
}

void MixerEngine::meterTickNow() {
    std::map<std::string, float> levels;
    for (const auto& [bundleID, running] : taps_) {
        running->logDiagnostics(); // what its IO thread captured since the last tick
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
