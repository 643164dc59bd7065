#include "engine/tap_set.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/device_liveness_watch.h"
#include "audio/device_reader.h"
#include "audio/device_volume_controller.h"
#include "audio/hal_error.h"
#include "engine/app_settings.h"
#include "recording/mix_recorder.h"

#include <set>
#include <unordered_map>

namespace orevant {

TapSet::TapSet(Parts parts, Hooks hooks) : parts_(std::move(parts)), hooks_(std::move(hooks)) {}

TapSet::~TapSet() {
    guard_.end();
    for (TaskHandle* task : {&coverageDropTask_, &watchdogTask_, &retryTask_}) task->cancel();
    // Taps stop their IO before the route controllers go.
    watches_.clear();
    taps_.clear();
    routeVolumes_.clear();
}

ProcessTap* TapSet::tap(const std::string& bundleID) const {
    auto it = taps_.find(bundleID);
    return it == taps_.end() ? nullptr : it->second.get();
}

DeviceVolumeController* TapSet::routeVolume(const std::string& uid) const {
    auto it = routeVolumes_.find(uid);
    return it == routeVolumes_.end() ? nullptr : it->second.get();
}

void TapSet::remove(const std::string& bundleID) {
    auto it = taps_.find(bundleID);
    if (it == taps_.end()) return;
    // `bundleID` may be the key of the entry erased below: the watch goes first.
    watches_.erase(bundleID);
    std::unique_ptr<ProcessTap> removed = std::move(it->second);
    taps_.erase(it);
    // A later tap may be allocated where this one was; its strikes must start from zero.
    watchdogStrikes_.erase(removed.get());
    removed->stop();
}

void TapSet::removeAll() {
    while (!taps_.empty()) remove(taps_.begin()->first);
}

void TapSet::removePlayingTo(const std::string& uid) {
    std::vector<std::string> playing;
    for (const auto& [bundleID, running] : taps_) {
        const auto& outputs = running->activatedOutputs();
        if (outputs.size() == 1 && outputs.front().uid == uid) playing.push_back(bundleID);
    }
    for (const std::string& bundleID : playing) remove(bundleID);
}

void TapSet::sync() {
    // Two running instances of one application share its bundle ID: the first one listed owns
    // the setting and the tap; the others play through the system unaltered.
    const std::vector<AudioApp>& apps = parts_.processMonitor.apps();
    std::unordered_map<std::string, const AudioApp*> byBundleID;
    for (const AudioApp& app : apps) byBundleID.emplace(app.bundleID, &app);

    std::vector<std::string> gone;
    std::vector<std::string> changedObjects;
    for (const auto& [bundleID, running] : taps_) {
        auto it = byBundleID.find(bundleID);
        if (it == byBundleID.end()) {
            gone.push_back(bundleID);
        } else if (it->second->objectIDs != running->processObjectIDs()) {
            changedObjects.push_back(bundleID);
        }
    }
    for (const std::string& bundleID : gone) {
        remove(bundleID);
        if (parts_.recorder) parts_.recorder->removeLane(bundleID);
    }
    for (const std::string& bundleID : changedObjects) remove(bundleID);

    const bool force = hooks_.forcesTaps();
    std::set<std::string> seen;
    for (const AudioApp& app : apps) {
        if (!seen.insert(app.bundleID).second || taps_.count(app.bundleID)) continue;
        const AppVolume setting = parts_.settings.setting(app.bundleID);
        if (setting.isCustomized() || (force && app.isPlaying)) make(app, setting);
    }
    updateRouteVolumes();
    hooks_.tapsChanged();
}

void TapSet::make(const AudioApp& app, const AppVolume& setting) {
    std::vector<ProcessTap::Output> outputs;
    try {
        outputs = resolveOutputs(setting);
    } catch (const HALError& error) {
        log_.error(strprintf("Default device read failed: %s", error.what()));
        return;
    }

    std::shared_ptr<RecordingLaneFeed> lane;
    if (parts_.recorder) lane = parts_.recorder->lane(app.bundleID, app.name);

    // A new tap starts at its target gains. During a panic those must be silence from the first
    // sample, so the tap is built at zero gain on both buses and given its levels afterwards;
    // its render path holds them at zero until the panic is released, then ramps up.
    const TapLevels levels = hooks_.levels(setting);
    auto created = std::make_unique<ProcessTap>(parts_.audioServer, app.objectIDs, levels.volume,
                                                levels.panicked || levels.isMuted,
                                                levels.panicked ? 0.0f : levels.cueVolume, std::move(lane));
    levels.applyTo(*created);
    // The lane records what MAIN carries only where the tap plays to the default device.
    const AudioDevice* current = parts_.deviceMonitor.defaultDevice();
    const std::string firstUID = outputs.empty() ? std::string() : outputs.front().uid;
    created->setRecordsToMain(firstUID == (current ? current->uid : std::string()));

    std::optional<ProcessTap::ChannelPairing> pairing;
    const AudioDevice* first = outputs.empty() ? nullptr : parts_.deviceMonitor.device(outputs.front().uid);
    if (outputs.size() == 1 && first) pairing = hooks_.pairing(*first);
    // Kept verbatim on purpose: this exact text is what the logs are searched for.
    log_.notice(strprintf("PAIRCHK outputs=%ld deviceFound=%s ch=%ld pairing=%s", static_cast<long>(outputs.size()),
                          first ? "true" : "false", static_cast<long>(first ? first->outputChannels : -1),
                          pairing ? "true" : "false"));

    try {
        created->start(outputs, pairing);
    } catch (const HALError& error) {
        log_.error(strprintf("Tap failed for %s: %s", app.bundleID.c_str(), error.what()));
        created.reset();
        setNeedsPermission(true);
        scheduleRetry();
        return;
    }
    watches_[app.bundleID] = std::make_unique<DeviceLivenessWatch>(
        parts_.audioServer, parts_.mainQueue, created->aggregateID(),
        guard_.wrap([this, bundleID = app.bundleID] { aggregateDied(bundleID); }));
    taps_[app.bundleID] = std::move(created);
    setNeedsPermission(false);
    if (hooks_.tapMade) hooks_.tapMade();
}

void TapSet::aggregateDied(const std::string& bundleID) {
    if (!taps_.count(bundleID)) return;
    // A device of the tap went, or the server lost the tap's path: rather than leave the
    // application silent (or unattenuated) until the watchdog notices, it gets a new tap now.
    log_.notice(strprintf("Tap for %s lost its aggregate — rebuilding", bundleID.c_str()));
    remove(bundleID);
    sync();
}

void TapSet::setNeedsPermission(bool needs) {
    if (needsAudioCapturePermission_ == needs) return;
    needsAudioCapturePermission_ = needs;
    hooks_.stateChanged();
}

std::vector<ProcessTap::Output> TapSet::resolveOutputs(const AppVolume& setting) const {
    std::vector<const AudioDevice*> devices;
    for (const std::string& uid : setting.outputDeviceUIDs) {
        if (const AudioDevice* device = parts_.deviceMonitor.device(uid)) devices.push_back(device);
    }
    std::vector<ProcessTap::Output> outputs;
    if (devices.empty()) {
        // No explicit output present: the application follows the default output device.
        const DeviceReader reader(parts_.audioServer);
        const AudioObjectID defaultID = reader.defaultDevice(AudioDirection::output);
        outputs.push_back({reader.uid(defaultID), defaultID});
        return outputs;
    }
    // The first output clocks the aggregate: a wired device where there is one.
    const AudioDevice* primary = devices.front();
    for (const AudioDevice* device : devices) {
        if (!device->isBluetooth()) {
            primary = device;
            break;
        }
    }
    outputs.push_back({primary->uid, primary->id});
    for (const AudioDevice* device : devices) {
        bool listed = false;
        for (const auto& output : outputs) listed = listed || output.uid == device->uid;
        if (!listed) outputs.push_back({device->uid, device->id});
    }
    return outputs;
}

void TapSet::updateRouteVolumes() {
    std::set<std::string> routed;
    for (const auto& [bundleID, setting] : parts_.settings.all()) {
        for (const std::string& uid : setting.outputDeviceUIDs) {
            if (parts_.deviceMonitor.device(uid)) routed.insert(uid);
        }
    }
    for (auto it = routeVolumes_.begin(); it != routeVolumes_.end();) {
        it = routed.count(it->first) ? std::next(it) : routeVolumes_.erase(it);
    }
    for (const std::string& uid : routed) {
        if (routeVolumes_.count(uid)) continue;
        routeVolumes_[uid] = std::make_unique<DeviceVolumeController>(
            parts_.deviceMonitor.device(uid)->id, parts_.audioServer, parts_.mainQueue, parts_.routeVolumeWrites);
    }
}

void TapSet::rebuild(const AudioApp& app, const AppVolume& setting) {
    remove(app.bundleID);
    if (setting.isCustomized()) make(app, setting);
    updateRouteVolumes();
}

void TapSet::rebuildAll() {
    std::vector<std::string> stale;
    for (const auto& [bundleID, running] : taps_) {
        bool keep = false;
        try {
            keep = resolveOutputs(parts_.settings.setting(bundleID)) == running->activatedOutputs() &&
                   running->isAggregateAlive();
        } catch (const HALError&) {
            keep = false;
        }
        if (!keep) stale.push_back(bundleID);
    }
    for (const std::string& bundleID : stale) remove(bundleID);
    sync();
}

void TapSet::scheduleCoverageDrop() {
    coverageDropTask_.cancel();
    coverageDropTask_ = parts_.mainQueue.postAfter(kCoverageDropDelaySeconds, guard_.wrap([this] {
        coverageDropTask_ = {};
        if (hooks_.holdsTaps()) return;
        std::vector<std::string> unneeded;
        for (const auto& [bundleID, running] : taps_) {
            const AppVolume* setting = parts_.settings.find(bundleID);
            if (!setting || !setting->isCustomized()) unneeded.push_back(bundleID);
        }
        for (const std::string& bundleID : unneeded) remove(bundleID);
        if (!unneeded.empty()) hooks_.tapsChanged();
    }));
}

void TapSet::cancelCoverageDrop() {
    coverageDropTask_.cancel();
    coverageDropTask_ = {};
}

void TapSet::startWatchdog() {
    watchdogTask_.cancel();
    watchdogTask_ = parts_.mainQueue.postAfter(kWatchdogPeriodSeconds, guard_.wrap([this] {
        watchdogCheck();
        startWatchdog();
    }));
}

void TapSet::watchdogCheck() {
    std::vector<std::string> rebuild;
    std::map<const ProcessTap*, int> strikes;
    for (const auto& [bundleID, running] : taps_) {
        int count = 0;
        if (running->renderCount() == 0 && running->isAnyProcessPlaying()) {
            auto it = watchdogStrikes_.find(running.get());
            count = (it == watchdogStrikes_.end() ? 0 : it->second) + 1;
        }
        strikes[running.get()] = count;
        if (count >= kWatchdogStrikes) rebuild.push_back(bundleID);
    }
    // Only taps still running keep their count.
    watchdogStrikes_ = std::move(strikes);
    for (const std::string& bundleID : rebuild) {
        log_.notice(
            strprintf("Watchdog: tap for %s never rendered while its process outputs — rebuilding", bundleID.c_str()));
        remove(bundleID);
    }
    if (!rebuild.empty()) sync();
}

void TapSet::scheduleRetry() {
    if (isRetrying_) return;
    isRetrying_ = true;
    hooks_.stateChanged();
    retryTask_ = parts_.mainQueue.postAfter(kRetryDelaysSeconds[0], guard_.wrap([this] { retry(0); }));
}

void TapSet::retry(size_t attempt) {
    // Any failed start counts as missing permission; each attempt rebuilds every tap.
    if (needsAudioCapturePermission_) {
        needsAudioCapturePermission_ = false;
        removeAll();
        sync();
        hooks_.stateChanged();
        constexpr size_t lastAttempt = std::size(kRetryDelaysSeconds) - 1;
        if (needsAudioCapturePermission_ && attempt != lastAttempt) {
            retryTask_ = parts_.mainQueue.postAfter(kRetryDelaysSeconds[attempt + 1],
                                                    guard_.wrap([this, attempt] { retry(attempt + 1); }));
            return;
        }
    }
    retryTask_ = {};
    isRetrying_ = false;
    hooks_.stateChanged();
}

std::map<std::string, float> TapSet::takePeaks() {
    std::map<std::string, float> peaks;
    for (const auto& [bundleID, running] : taps_) peaks[bundleID] = running->takePeak();
    return peaks;
}

void TapSet::shutdown() {
    bool attenuated = false;
    for (const auto& [bundleID, running] : taps_) {
        if (!running->isMuted() && running->volume() < kShutdownUnityThreshold) {
            running->setVolume(1.0f);
            attenuated = true;
        }
    }
    // Let the gain ramps reach unity before the taps go, so that nothing jumps in level.
    if (attenuated) parts_.blockingWait(kShutdownWaitSeconds);
    removeAll();
}

} // namespace orevant
