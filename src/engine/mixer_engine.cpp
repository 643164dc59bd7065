#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/hal_listener.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_write_queue.h"
#include "capture/mirror_aggregate_cleanup.h"
#include "engine/companion_bridge.h"
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "persistence/defaults_keys.h"
#include "persistence/snapshot_store.h"
#include "persistence/volume_store.h"
#include "platform/defaults_store.h"
#include "platform/service_advertiser.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"
#include "remote/total_mix_routing_writer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

namespace orevant {

namespace {

struct CurrentEngine {
    MixerEngine* engine = nullptr;
    std::weak_ptr<char> alive;
};

CurrentEngine& currentEngine() {
    static CurrentEngine current;
    return current;
}

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

MixerEngine::MixerEngine(Services services) : services_(std::move(services)) {
    if (!services_.blockingWait) {
        services_.blockingWait = [](double seconds) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        };
    }
    AudioServer& server = services_.audioServer;
    MainQueue& queue = services_.mainQueue;
    DefaultsStore& defaults = services_.defaults;

    deviceVolumeWrites_ = std::make_unique<VolumeWriteQueue>(server, queue);
    systemVolumeWrites_ = std::make_unique<VolumeWriteQueue>(server, queue);

    processMonitor_ = std::make_unique<AudioProcessMonitor>(server, queue, services_.workspace);
    systemVolume_ =
        std::make_unique<SystemVolumeController>(AudioDirection::output, server, queue, *systemVolumeWrites_);
    phonesBusVolume_ = std::make_unique<PhonesBusVolumeController>(defaults);
    deviceMonitor_ = std::make_unique<AudioDeviceMonitor>(AudioDirection::output, server, queue, defaults);
    inputVolume_ = std::make_unique<SystemVolumeController>(AudioDirection::input, server, queue, *systemVolumeWrites_);
    inputDeviceMonitor_ = std::make_unique<AudioDeviceMonitor>(AudioDirection::input, server, queue, defaults);
    bluetooth_ = std::make_unique<BluetoothAudioMonitor>(services_.bluetooth, queue);
    if (services_.midiSystem) {
        midiManager_ = std::make_unique<MIDIManager>(*services_.midiSystem, queue);
        // Without a client and an input port there is no MIDI input to offer.
        if (midiManager_->client() == 0 || midiManager_->port() == 0) midiManager_.reset();
    }
    midiMapping_ = std::make_unique<MIDIMappingManager>(defaults);
    ServiceAdvertiser* advertiser = services_.advertiser;
    if (!advertiser) {
        ownAdvertiser_ = std::make_unique<NullServiceAdvertiser>();
        advertiser = ownAdvertiser_.get();
    }
    oscListener_ = std::make_unique<OSCListener>(queue, services_.hostClock, *advertiser, services_.oscPort);
    pairingPIN_ = std::make_unique<PairingPIN>(defaults);
    totalMixWriter_ =
        std::make_unique<TotalMixRoutingWriter>(queue, TotalMixRoutingWriter::kDefaultHost, services_.totalMixPort);
    store_ = std::make_unique<VolumeStore>(defaults);
    snapshotStore_ = std::make_unique<SnapshotStore>(defaults, std::string(defaults_keys::mixSnapshots));
}

MixerEngine::~MixerEngine() {
    // Tasks and callbacks hold the token weakly: from here on they do nothing.
    alive_.reset();
    for (TaskHandle* task : {&saveTask_, &routingTask_, &bluetoothRefreshTask_, &coverageDropTask_, &appListSendTask_,
                             &autoRecSilenceTask_, &meterTimer_, &watchdogTask_, &tapRetryTask_}) {
        task->cancel();
    }
    if (currentEngine().engine == this) currentEngine() = {};
    if (phonesBusVolume_) phonesBusVolume_->onChange = nullptr;
    if (systemVolume_) systemVolume_->onVolumeChanged = nullptr;
    if (inputVolume_) inputVolume_->onVolumeChanged = nullptr;
    deviceListener_.reset();
    processListToken_.reset();
    deviceListToken_.reset();
    // Taps stop their IO before the controllers and queues below go away.
    taps_.clear();
    routeVolumes_.clear();
    if (oscListener_) oscListener_->stop();
}

// ---- Life cycle ----

void MixerEngine::start() {
    DefaultsStore& defaults = services_.defaults;
    // 1-5: stored state.
    volumes_ = store_->load();
    defaults.remove(std::string(defaults_keys::cueOutputUID));
    busPairings_ = JSONDefaults::load<std::map<std::string, BusPairing>>(defaults_keys::busPairings, defaults)
                       .value_or(std::map<std::string, BusPairing>{});
    slots_ = loadSlots();
    snapshots_ = snapshotStore_->load();
    // 6
    startWatchdog();
    // 7
    processMonitor_->start();
    systemVolume_->start();
    deviceMonitor_->start();
    inputVolume_->start();
    inputDeviceMonitor_->start();
    // 8
    MirrorAggregateCleanup(services_.audioServer).run();
    // 9
    phonesBusVolume_->onChange = [this, alive = weakAlive()] {
        if (alive.lock()) phonesLevelChanged();
    };
    // 10
    bluetooth_->refresh();
    // 11-13
    installListenerPIN();
    if (midiManager_) installMIDICallback();
    installCompanionCallbacks();
    // 14
    auto volumeChanged = [this, alive = weakAlive()] {
        if (alive.lock()) scheduleAppListSend();
    };
    systemVolume_->onVolumeChanged = volumeChanged;
    inputVolume_->onVolumeChanged = volumeChanged;
    // 15: the listener runs on the main queue; the rebuild is a task of its own so that the
    // device monitor's refresh of the new default, posted by its own listener, runs first.
    deviceListener_ = std::make_unique<HALListener>(services_.audioServer, kAudioObjectSystemObject,
                                                    PropertyAddress{sel::defaultOutputDevice, scope::global, 0},
                                                    [this, alive = weakAlive()](uint32_t, const PropertyAddress*) {
                                                        if (!alive.lock()) return;
                                                        services_.mainQueue.post([this, alive] {
                                                            if (alive.lock()) rebuildTaps();
                                                        });
                                                    });
    // 16
    setCurrent(this);
    // 17
    observeMonitors();
    // 18
    syncTaps();
    // 19
    startMeterClock();
    // 20
    isStarted_ = true;
    changed();
}

MixerEngine* MixerEngine::current() {
    CurrentEngine& current = currentEngine();
    if (!current.engine || current.alive.expired()) return nullptr;
    return current.engine;
}

void MixerEngine::setCurrent(MixerEngine* engine) {
    currentEngine() = engine ? CurrentEngine{engine, engine->alive_} : CurrentEngine{};
}

ObserverList::Token MixerEngine::addObserver(ObserverList::Observer observer) {
    return observers_.add(std::move(observer));
}

void MixerEngine::changed() const { observers_.notify(); }

void MixerEngine::setCompanionBridge(std::unique_ptr<CompanionBridge> bridge) { companionBridge_ = std::move(bridge); }

void MixerEngine::setIphoneEndpoint(std::optional<NetworkEndpoint> endpoint) {
    if (iphoneEndpoint_ == endpoint) return;
    iphoneEndpoint_ = std::move(endpoint);
    changed();
}

void MixerEngine::setIsAutoRec(bool on) {
    services_.defaults.set(std::string(defaults_keys::autoRec), on);
    if (isAutoRec_ == on) return;
    isAutoRec_ = on;
    changed();
    // Automatic recording keeps a tap (and so a lane) on every playing application.
    if (on && isStarted_) syncTaps();
}

void MixerEngine::sendAppList() {
    if (companionBridge_) companionBridge_->sendAppList();
}

void MixerEngine::scheduleAppListSend() {
    if (companionBridge_) companionBridge_->scheduleAppListSend();
}

// ---- Derived values ----

std::optional<AudioDevice> MixerEngine::currentOutputDevice() const {
    const AudioObjectID defaultID = deviceMonitor_->defaultDeviceID();
    for (const AudioDevice& device : deviceMonitor_->devices()) {
        if (device.id == defaultID) return device;
    }
    return std::nullopt;
}

bool MixerEngine::anyCued() const {
    return std::any_of(volumes_.begin(), volumes_.end(), [](const auto& entry) { return entry.second.isCued; });
}

// ---- Application settings ----

AppVolume MixerEngine::volume(const AudioApp& app) const {
    auto it = volumes_.find(app.bundleID);
    return it == volumes_.end() ? AppVolume{} : it->second;
}

std::vector<std::string> MixerEngine::outputDeviceUIDs(const AudioApp& app) const {
    auto it = volumes_.find(app.bundleID);
    return it == volumes_.end() ? std::vector<std::string>{} : it->second.outputDeviceUIDs;
}

void MixerEngine::setVolume(float value, const AudioApp& app) {
    AppVolume setting = volume(app);
    setting.volume = clampUnit(value);
    apply(setting, app);
}

void MixerEngine::toggleMute(const AudioApp& app) {
    AppVolume setting = volume(app);
    setting.isMuted = !setting.isMuted;
    apply(setting, app);
}

void MixerEngine::apply(const AppVolume& setting, const AudioApp& app) {
    volumes_[app.bundleID] = setting;
    scheduleSave();
    if (ProcessTap* running = tap(app.bundleID)) {
        running->setVolume(setting.volume);
        running->setMuted(setting.isMuted);
        running->setCueVolume(setting.cueVolume);
    } else if (setting.isCustomized()) {
        makeTap(app, setting);
    }
    changed();
}

void MixerEngine::setCueVolume(float value, const std::string& bundleID) {
    auto it = volumes_.find(bundleID);
    if (it == volumes_.end()) return;
    it->second.cueVolume = clampUnit(value);
    scheduleSave();
    if (ProcessTap* running = tap(bundleID)) running->setCueVolume(it->second.cueVolume);
    changed();
}

void MixerEngine::addOutput(const AudioDevice& device, const AudioApp& app) {
    AppVolume setting = volume(app);
    auto& outputs = setting.outputDeviceUIDs;
    if (std::find(outputs.begin(), outputs.end(), device.uid) != outputs.end()) return;
    outputs.push_back(device.uid);
    volumes_[app.bundleID] = setting;
    scheduleSave();
    rebuildTap(app, setting);
    changed();
}

void MixerEngine::removeOutput(const std::string& uid, const AudioApp& app) {
    auto it = volumes_.find(app.bundleID);
    if (it == volumes_.end()) return;
    std::vector<std::string> outputs = it->second.outputDeviceUIDs;
    const auto end = std::remove(outputs.begin(), outputs.end(), uid);
    if (end == outputs.end()) return;
    outputs.erase(end, outputs.end());
    storeOutputs(app, std::move(outputs));
}

void MixerEngine::clearOutputs(const AudioApp& app) {
    auto it = volumes_.find(app.bundleID);
    if (it == volumes_.end() || it->second.outputDeviceUIDs.empty()) return;
    storeOutputs(app, {});
}

void MixerEngine::storeOutputs(const AudioApp& app, std::vector<std::string> outputs) {
    AppVolume setting = volumes_[app.bundleID];
    setting.outputDeviceUIDs = std::move(outputs);
    if (setting.isCustomized()) {
        volumes_[app.bundleID] = setting;
    } else {
        volumes_.erase(app.bundleID);
    }
    scheduleSave();
    rebuildTap(app, setting);
    changed();
}

void MixerEngine::resetApp(const AudioApp& app) {
    volumes_.erase(app.bundleID);
    saveTask_.cancel();
    saveNow();
    stopAndRemoveTap(app.bundleID);
    changed();
}

std::optional<std::string> MixerEngine::deviceName(const std::string& uid) const {
    if (const AudioDevice* device = deviceMonitor_->device(uid)) return device->name;
    return std::nullopt;
}

DeviceVolumeController* MixerEngine::routeVolumeController(const std::string& uid) const {
    auto it = routeVolumes_.find(uid);
    return it == routeVolumes_.end() ? nullptr : it->second.get();
}

// ---- Deferred save ----

void MixerEngine::scheduleSave() {
    saveTask_.cancel();
    saveTask_ = services_.mainQueue.postAfter(kSaveDelaySeconds, [this, alive = weakAlive()] {
        if (alive.lock()) saveNow();
    });
}

void MixerEngine::saveNow() { store_->save(volumes_); }

// ---- Observing the monitors ----

void MixerEngine::observeMonitors() {
    observedDevices_ = deviceMonitor_->devices();
    processListToken_ = processMonitor_->addObserver([this, alive = weakAlive()] {
        if (!alive.lock() || processListTaskPending_) return;
        processListTaskPending_ = true;
        services_.mainQueue.post([this, alive] {
            if (alive.lock()) processListChanged();
        });
    });
    deviceListToken_ = deviceMonitor_->addObserver([this, alive = weakAlive()] {
        // The monitor also reports a new default device; that change reaches the engine
        // through its own default-device listener.
        if (!alive.lock() || deviceListTaskPending_ || deviceMonitor_->devices() == observedDevices_) return;
        deviceListTaskPending_ = true;
        services_.mainQueue.post([this, alive] {
            if (alive.lock()) deviceListChanged();
        });
    });
}

void MixerEngine::processListChanged() {
    processListTaskPending_ = false;
    syncTaps();
}

void MixerEngine::deviceListChanged() {
    deviceListTaskPending_ = false;
    observedDevices_ = deviceMonitor_->devices();
    bluetooth_->refresh();
    bluetoothRefreshTask_.cancel();
    bluetoothRefreshTask_ = services_.mainQueue.postAfter(kBluetoothRefreshDelaySeconds, [this, alive = weakAlive()] {
        if (alive.lock()) bluetooth_->refresh();
    });
    rebuildTaps();
    changed();
}

// ---- Bluetooth ----

void MixerEngine::connectBluetooth(const BluetoothAudioDevice& device) {
    bluetooth_->connect(device, [this, alive = weakAlive()](const BluetoothAudioDevice& connected) {
        if (!alive.lock()) return;
        routingTask_.cancel();
        routingTask_ = {};
        routeToBluetooth(connected, 0);
    });
}

void MixerEngine::routeToBluetooth(const BluetoothAudioDevice& device, int attempt) {
    deviceMonitor_->refresh();
    const std::string address = lowercased(device.id);
    for (const AudioDevice& candidate : deviceMonitor_->devices()) {
        if (!address.empty() && lowercased(candidate.uid).rfind(address, 0) == 0) {
            routingTask_ = {};
            deviceMonitor_->setDefault(candidate);
            return;
        }
    }
    if (attempt + 1 >= kBluetoothRoutingTries) {
        routingTask_ = {};
        return;
    }
    routingTask_ =
        services_.mainQueue.postAfter(kBluetoothRoutingIntervalSeconds, [this, alive = weakAlive(), device, attempt] {
            if (alive.lock()) routeToBluetooth(device, attempt + 1);
        });
}

std::optional<BluetoothAudioDevice> MixerEngine::bluetoothDevice(const AudioDevice& device) const {
    const std::string uid = lowercased(device.uid);
    for (const BluetoothAudioDevice& paired : bluetooth_->paired()) {
        const std::string address = lowercased(paired.id);
        if (!address.empty() && uid.rfind(address, 0) == 0) return paired;
    }
    return std::nullopt;
}

// ---- Console slots ----

std::vector<std::string> MixerEngine::loadSlots() const {
    auto stored = services_.defaults.stringArray(std::string(defaults_keys::consoleSlots));
    if (stored && stored->size() == kSlotCount) return *stored;
    std::vector<std::string> slots(kSlotCount);
    slots[0] = "bus:main";
    slots[1] = "bus:phones";
    return slots;
}

void MixerEngine::setSlot(int index, const std::string& target) {
    if (index < 0 || static_cast<size_t>(index) >= slots_.size() || slots_[index] == target) return;
    slots_[index] = target;
    services_.defaults.set(std::string(defaults_keys::consoleSlots), DefaultsStringArray(slots_));
    sendAppList();
    changed();
}

} // namespace orevant
