// Which applications get a ProcessTap, with which outputs and parameters; replacing, releasing,
// watching and retrying taps; releasing them all at termination.
#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/hal.h"
#include "audio/phones_bus_volume_controller.h"
#include "recording/mix_recorder.h"

#include <set>
#include <unordered_map>

namespace orevant {

namespace {
bool isBluetooth(uint32_t transport) {
    return transport == transport::bluetooth || transport == transport::bluetoothLE;
}
} // namespace

ProcessTap* MixerEngine::tap(const std::string& bundleID) const {
    auto it = taps_.find(bundleID);
    return it == taps_.end() ? nullptr : it->second.get();
}

void MixerEngine::stopAndRemoveTap(const std::string& bundleID) {
    auto it = taps_.find(bundleID);
    if (it == taps_.end()) return;
    std::unique_ptr<ProcessTap> removed = std::move(it->second);
    taps_.erase(it);
    // A later tap may be allocated where this one was; its strikes must start from zero.
    watchdogStrikes_.erase(removed.get());
    removed->stop();
}

void MixerEngine::syncTaps() {
    // Two running instances of one application share its bundle ID: the first one listed owns
    // the setting and the tap; the others play through the system unaltered.
    std::unordered_map<std::string, const AudioApp*> byBundleID;
    for (const AudioApp& app : processMonitor_->apps()) byBundleID.emplace(app.bundleID, &app);

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
        stopAndRemoveTap(bundleID);
        if (services_.recorder) services_.recorder->removeLane(bundleID);
    }
    for (const std::string& bundleID : changedObjects) stopAndRemoveTap(bundleID);

    const bool force = isPaired() || isPanicked_ || isRecording_ || isAutoRec_;
    std::set<std::string> seen;
    for (const AudioApp& app : processMonitor_->apps()) {
        if (!seen.insert(app.bundleID).second || taps_.count(app.bundleID)) continue;
        AppVolume setting;
        if (auto it = volumes_.find(app.bundleID); it != volumes_.end()) setting = it->second;
        if (setting.isCustomized() || (force && app.isPlaying)) makeTap(app, setting);
    }
    updateRouteVolumes();
    sendAppList();
}

void MixerEngine::makeTap(const AudioApp& app, const AppVolume& setting) {
    std::vector<ProcessTap::Output> outputs;
    try {
        outputs = resolveOutputs(setting);
    } catch (const HALError& error) {
        log_.error(strprintf("Default device read failed: %s", error.what()));
        return;
    }

    std::shared_ptr<RecordingLaneFeed> lane;
    if (services_.recorder) lane = services_.recorder->lane(app.bundleID, app.name);

    const bool unityRoute = !setting.outputDeviceUIDs.empty() && !setting.isCued;
    const float volume = unityRoute ? 1.0f : setting.volume;
    const bool mute = unityRoute ? false : setting.isMuted;
    // A new tap starts at its target gains. During a panic those must be silence from the first
    // sample, so the tap is built at zero gain on both buses and given its levels afterwards;
    // its render path holds them at zero until the panic is released, then ramps up.
    auto created = std::make_unique<ProcessTap>(services_.audioServer, app.objectIDs, volume, isPanicked_ ? true : mute,
                                                isPanicked_ ? 0.0f : setting.cueVolume, std::move(lane));
    created->setPanicked(isPanicked_);
    created->setMuted(mute);
    created->setCueVolume(setting.cueVolume);
    created->setPhonesMode(phonesModeFor(anyCued(), setting.isCued));
    const auto current = currentOutputDevice();
    const std::string firstUID = outputs.empty() ? std::string() : outputs.front().uid;
    const std::string currentUID = current ? current->uid : std::string();
    created->setRecordsToMain(firstUID == currentUID);
    created->setPhonesBusGain(phonesBusVolume_->gain());

    std::optional<ProcessTap::ChannelPairing> pairing;
    const AudioDevice* first = outputs.empty() ? nullptr : deviceMonitor_->device(outputs.front().uid);
    if (outputs.size() == 1 && first) pairing = channelPairing(*first);
    log_.notice(strprintf("PAIRCHK outputs=%ld deviceFound=%s ch=%ld pairing=%s", static_cast<long>(outputs.size()),
                          first ? "true" : "false", static_cast<long>(first ? first->outputChannels : -1),
                          pairing ? "true" : "false"));

    try {
        created->start(outputs, pairing);
    } catch (const HALError& error) {
        log_.error(strprintf("Tap failed for %s: %s", app.bundleID.c_str(), error.what()));
        created.reset();
        if (!needsAudioCapturePermission_) {
            needsAudioCapturePermission_ = true;
            changed();
        }
        scheduleTapRetry();
        return;
    }
    taps_[app.bundleID] = std::move(created);
    wakeMeterClock();
    if (needsAudioCapturePermission_) {
        needsAudioCapturePermission_ = false;
        changed();
    }
}

std::vector<ProcessTap::Output> MixerEngine::resolveOutputs(const AppVolume& setting) const {
    std::vector<const AudioDevice*> devices;
    for (const std::string& uid : setting.outputDeviceUIDs) {
        if (const AudioDevice* device = deviceMonitor_->device(uid)) devices.push_back(device);
    }
    std::vector<ProcessTap::Output> outputs;
    if (!devices.empty()) {
        // The first output clocks the aggregate: a wired device where there is one.
        const AudioDevice* primary = devices.front();
        for (const AudioDevice* device : devices) {
            if (!isBluetooth(device->transport)) {
                primary = device;
                break;
            }
        }
        outputs.push_back({primary->uid, primary->id});
        for (const AudioDevice* device : devices) {
            if (device->uid == primary->uid) continue;
            bool listed = false;
            for (const auto& output : outputs) listed = listed || output.uid == device->uid;
            if (!listed) outputs.push_back({device->uid, device->id});
        }
        return outputs;
    }
    const HAL hal(services_.audioServer);
    const auto defaultID = hal.read<AudioObjectID>(kAudioObjectSystemObject, sel::defaultOutputDevice);
    outputs.push_back({hal.readString(defaultID, sel::deviceUID), defaultID});
    return outputs;
}

void MixerEngine::updateRouteVolumes() {
    std::set<std::string> routed;
    for (const auto& [bundleID, setting] : volumes_) {
        for (const std::string& uid : setting.outputDeviceUIDs) {
            if (deviceMonitor_->device(uid)) routed.insert(uid);
        }
    }
    for (auto it = routeVolumes_.begin(); it != routeVolumes_.end();) {
        it = routed.count(it->first) ? std::next(it) : routeVolumes_.erase(it);
    }
    for (const std::string& uid : routed) {
        if (routeVolumes_.count(uid)) continue;
        routeVolumes_[uid] = std::make_unique<DeviceVolumeController>(
            deviceMonitor_->device(uid)->id, services_.audioServer, services_.mainQueue, *deviceVolumeWrites_);
    }
}

void MixerEngine::rebuildTap(const AudioApp& app, const AppVolume& setting) {
    stopAndRemoveTap(app.bundleID);
    if (setting.isCustomized()) makeTap(app, setting);
    updateRouteVolumes();
}

void MixerEngine::rebuildTaps() {
    std::vector<std::string> stale;
    for (const auto& [bundleID, running] : taps_) {
        AppVolume setting;
        if (auto it = volumes_.find(bundleID); it != volumes_.end()) setting = it->second;
        bool keep = false;
        try {
            keep = resolveOutputs(setting) == running->activatedOutputs() && running->isAggregateAlive();
        } catch (const HALError&) {
            keep = false;
        }
        if (!keep) stale.push_back(bundleID);
    }
    for (const std::string& bundleID : stale) stopAndRemoveTap(bundleID);
    syncTaps();
}

// ---- Coverage drop ----

void MixerEngine::scheduleCoverageDrop() {
    coverageDropTask_.cancel();
    coverageDropTask_ = services_.mainQueue.postAfter(kCoverageDropDelaySeconds, [this, alive = weakAlive()] {
        if (!alive.lock()) return;
        coverageDropTask_ = {};
        // A take (or automatic recording) keeps every playing application's tap, so that the
        // recording does not lose its sources.
        if (anyCued() || isPanicked_ || isPaired() || isRecording_ || isAutoRec_) return;
        std::vector<std::string> unneeded;
        for (const auto& [bundleID, running] : taps_) {
            auto it = volumes_.find(bundleID);
            if (it == volumes_.end() || !it->second.isCustomized()) unneeded.push_back(bundleID);
        }
        for (const std::string& bundleID : unneeded) stopAndRemoveTap(bundleID);
        if (!unneeded.empty()) sendAppList();
    });
}

// ---- Watchdog ----

void MixerEngine::startWatchdog() {
    watchdogTask_.cancel();
    watchdogTask_ = services_.mainQueue.postAfter(kWatchdogPeriodSeconds, [this, alive = weakAlive()] {
        if (!alive.lock()) return;
        watchdogCheck();
        startWatchdog();
    });
}

void MixerEngine::watchdogCheck() {
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
        stopAndRemoveTap(bundleID);
    }
    if (!rebuild.empty()) syncTaps();
}

// ---- Retry after a failed tap ----

void MixerEngine::scheduleTapRetry() {
    if (isRetryingTaps_) return;
    isRetryingTaps_ = true;
    changed();
    tapRetryTask_ = services_.mainQueue.postAfter(kTapRetryDelaysSeconds[0], [this, alive = weakAlive()] {
        if (alive.lock()) runTapRetry(0);
    });
}

void MixerEngine::runTapRetry(size_t attempt) {
    if (needsAudioCapturePermission_) {
        needsAudioCapturePermission_ = false;
        std::vector<std::string> all;
        for (const auto& [bundleID, running] : taps_) all.push_back(bundleID);
        for (const std::string& bundleID : all) stopAndRemoveTap(bundleID);
        syncTaps();
        changed();
        constexpr size_t lastAttempt = std::size(kTapRetryDelaysSeconds) - 1;
        if (needsAudioCapturePermission_ && attempt != lastAttempt) {
            tapRetryTask_ = services_.mainQueue.postAfter(kTapRetryDelaysSeconds[attempt + 1],
                                                          [this, alive = weakAlive(), attempt] {
                                                              if (alive.lock()) runTapRetry(attempt + 1);
                                                          });
            return;
        }
    }
    tapRetryTask_ = {};
    isRetryingTaps_ = false;
    changed();
}

// ---- Shutdown ----

void MixerEngine::shutdown() {
    bool attenuated = false;
    for (const auto& [bundleID, running] : taps_) {
        if (!running->isMuted() && running->volume() < kShutdownUnityThreshold) {
            running->setVolume(1.0f);
            attenuated = true;
        }
    }
    // Let the gain ramps reach unity before the taps go, so that nothing jumps in level.
    if (attenuated) services_.blockingWait(kShutdownWaitSeconds);
    std::vector<std::string> all;
    for (const auto& [bundleID, running] : taps_) all.push_back(bundleID);
    for (const std::string& bundleID : all) stopAndRemoveTap(bundleID);
}

} // namespace orevant
