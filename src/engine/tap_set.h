#pragma once
// The engine's taps: which applications get a ProcessTap, with which outputs and starting
// levels; replacing taps when applications, process objects, devices or routes change;
// releasing those no longer needed (the coverage drop); rebuilding taps that never render (the
// watchdog) and, at once, taps whose aggregate stops being alive; retrying after a failed start; one volume controller per routed device; and
// releasing every tap at termination. What forces or holds taps, and the levels a new tap starts
// with, are the engine's decisions, asked through Hooks.
//
// Threads: main queue only. The taps' parameters cross to their IO threads inside ProcessTap.
#include "capture/process_tap.h"
#include "engine/tap_levels.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class AppSettings;
class AudioDeviceMonitor;
class AudioProcessMonitor;
class DeviceLivenessWatch;
class DeviceVolumeController;
class MixRecorder;
class VolumeWriteQueue;
struct AppVolume;
struct AudioApp;
struct AudioDevice;

class TapSet {
public:
    static constexpr double kCoverageDropDelaySeconds = 0.3;
    static constexpr double kWatchdogPeriodSeconds = 2.0;
    static constexpr int kWatchdogStrikes = 2;
    static constexpr double kRetryDelaysSeconds[4] = {1.0, 2.0, 4.0, 8.0};
    static constexpr float kShutdownUnityThreshold = 0.999f;
    static constexpr double kShutdownWaitSeconds = 0.15;

    // What the tap set works with; everything referenced outlives it.
    struct Parts {
        MainQueue& mainQueue;
        AudioServer& audioServer;
        // The queue the route volume controllers write through.
        VolumeWriteQueue& routeVolumeWrites;
        const AudioProcessMonitor& processMonitor;
        const AudioDeviceMonitor& deviceMonitor;
        const AppSettings& settings;
        // Taps are made with its lanes; none: without lanes.
        MixRecorder* recorder = nullptr;
        // Shutdown's wait for gain ramps to reach unity.
        std::function<void(double seconds)> blockingWait;
    };

    // The engine's side; each is called on the main queue.
    struct Hooks {
        // Every playing application gets a tap, customised or not.
        std::function<bool()> forcesTaps;
        // A coverage drop releases nothing.
        std::function<bool()> holdsTaps;
        // The levels a tap of this setting starts with.
        std::function<TapLevels(const AppVolume&)> levels;
        // The channel pairing of a device, if it has one.
        std::function<std::optional<ProcessTap::ChannelPairing>(const AudioDevice&)> pairing;
        // The set of taps changed after a sync or a coverage drop (the phone's list shows it).
        std::function<void()> tapsChanged;
        // isRetrying() or needsAudioCapturePermission() changed.
        std::function<void()> stateChanged;
        // A tap was made and runs.
        std::function<void()> tapMade;
    };

    using Taps = std::map<std::string, std::unique_ptr<ProcessTap>>;
    using RouteVolumes = std::map<std::string, std::unique_ptr<DeviceVolumeController>>;

    TapSet(Parts parts, Hooks hooks);
    // Stops every tap's IO before its storage goes.
    ~TapSet();
    TapSet(const TapSet&) = delete;
    TapSet& operator=(const TapSet&) = delete;

    const Taps& taps() const { return taps_; }
    ProcessTap* tap(const std::string& bundleID) const;
    const RouteVolumes& routeVolumes() const { return routeVolumes_; }
    DeviceVolumeController* routeVolume(const std::string& uid) const;
    // A failed start is being retried.
    bool isRetrying() const { return isRetrying_; }
    // The last tap start failed (taken for missing audio-capture permission).
    bool needsAudioCapturePermission() const { return needsAudioCapturePermission_; }

    // Makes the taps match the application list and the settings: taps of departed applications
    // (and their recording lanes) and of changed process objects go; applications whose setting
    // is customised, or every playing one while taps are forced, get one.
    void sync();
    // Builds and starts one tap; a failed start is logged and retried later.
    void make(const AudioApp& app, const AppVolume& setting);
    // The outputs a setting's tap plays to, first the clock device. Throws HALError when the
    // default output device cannot be read.
    std::vector<ProcessTap::Output> resolveOutputs(const AppVolume& setting) const;
    // Replaces one application's tap after its outputs changed.
    void rebuild(const AudioApp& app, const AppVolume& setting);
    // After a device change: taps whose outputs no longer resolve the same, or whose aggregate
    // died, are replaced.
    void rebuildAll();
    // Stops one tap and forgets it.
    void remove(const std::string& bundleID);
    // Stops the taps that play to the device with `uid` alone (its channel pairing changed).
    void removePlayingTo(const std::string& uid);
    // One controller per present device that some setting routes to.
    void updateRouteVolumes();

    // 0.3 s from now, unless cancelled or replaced: releases the taps of applications at default
    // settings, unless the engine holds them.
    void scheduleCoverageDrop();
    void cancelCoverageDrop();
    // Every 2 s: a tap that has not rendered while its processes play is rebuilt on its second
    // strike.
    void startWatchdog();

    // Peaks of every tap since the last call, bundle ID -> highest absolute MAIN sample.
    std::map<std::string, float> takePeaks();

    // Raises attenuated taps to unity, lets their ramps get there, then releases every tap.
    void shutdown();

private:
    void removeAll();
    void scheduleRetry();
    void retry(size_t attempt);
    void watchdogCheck();
    void setNeedsPermission(bool needs);
    void aggregateDied(const std::string& bundleID);

    Parts parts_;
    Hooks hooks_;
    Taps taps_;
    RouteVolumes routeVolumes_;
    // One per tap: its aggregate's liveness.
    std::map<std::string, std::unique_ptr<DeviceLivenessWatch>> watches_;
    bool isRetrying_ = false;
    bool needsAudioCapturePermission_ = false;
    TaskHandle coverageDropTask_;
    TaskHandle watchdogTask_;
    TaskHandle retryTask_;
    std::map<const ProcessTap*, int> watchdogStrikes_;
    Logger log_{"MixerEngine"};
    LifetimeGuard guard_;
};

} // namespace orevant
