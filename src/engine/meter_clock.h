#pragma once
// The meter clock: 30 times a second it turns the taps' peaks into per-application levels with
// fast attack and a release of 0.88 per tick (about -33 dB a second), and every third tick it
// decides whether the phone gets a meter frame: while anything is audible, once more when all
// falls silent, then nothing until a level rises again. While no tap exists, the levels are empty
// and the phone has had its last frame, a tick would change nothing: the clock then sleeps (an
// idle agent wakes for nothing) until wake(), which keeps its period and counts the ticks it slept
// through, so nothing it reports differs from a clock that never slept.
//
// Threads: main queue only.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace orevant {

class MeterClock {
public:
    using Levels = std::map<std::string, float>;

    static constexpr double kIntervalSeconds = 1.0 / 30.0;
    static constexpr float kDecay = 0.88f;
    static constexpr int kFrameEveryTicks = 3;
    static constexpr float kSilenceThreshold = 0.001f;

    // What one tick produced.
    struct Tick {
        bool levelsChanged = false;
        // The levels to send to the phone on this tick, if any.
        std::optional<Levels> frame;
    };

    explicit MeterClock(MainQueue& mainQueue);
    ~MeterClock();
    MeterClock(const MeterClock&) = delete;
    MeterClock& operator=(const MeterClock&) = delete;

    // Runs `onTick` every 1/30 s from now on (a second start replaces the first).
    void start(std::function<void()> onTick);
    // A tap was made: a sleeping clock ticks again, on the period it had.
    void wake();
    bool isAsleep() const { return asleep_; }
    // One tick over the peaks taken from the taps since the last one (bundle ID -> peak;
    // applications without a tap have no level). `hasPhone`: a phone would receive a frame.
    Tick tick(const std::map<std::string, float>& peaks, bool hasPhone);

    const Levels& levels() const { return levels_; }

private:
    void arm(double seconds);

    MainQueue& mainQueue_;
    Levels levels_;
    TaskHandle timer_;
    std::function<void()> onTick_;
    double lastTickAt_ = 0.0; // main queue clock
    bool sawNoTap_ = false;   // the tick just run had no peaks at all
    bool asleep_ = false;
    int64_t meterTick_ = 0;
    // The last frame sent to the phone was silent (none sent counts as silent).
    bool metersWereSilent_ = true;
    LifetimeGuard guard_;
};

} // namespace orevant
