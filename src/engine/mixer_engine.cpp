#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "audio/hal_listener.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_write_queue.h"
#include "capture/mirror_aggregate_cleanup.h"
#include "engine/bluetooth_routing.h"
#include "engine/control_router.h"
#include "engine/cue_bus.h"
#include "engine/deferred_save.h"
#include "engine/osc_companion_bridge.h"
#include "engine/tap_levels.h"
#include "engine/tap_set.h"
#include "engine/web_companion_bridge.h"
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "persistence/defaults_keys.h"
#include "platform/clamp_unit.h"
#include "platform/defaults_store.h"
#include "platform/service_advertiser.h"
#include "recording/mix_recorder.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"
#include "remote/total_mix_routing_writer.h"
#include "remote/web/web_server.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orevant {

namespace {

struct CurrentEngine {
    MixerEngine* engine = nullptr;
    std::weak_ptr<const char> alive;
};

CurrentEngine& currentEngine() {
    static CurrentEngine current;
    return current;
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
    deferredSave_ = std::make_unique<DeferredSave>(queue);
    settings_ = std::make_unique<AppSettings>(queue, defaults, deferredSave_.get());
    processMonitor_ = std::make_unique<AudioProcessMonitor>(server, queue, services_.workspace);
    systemVolume_ =
        std::make_unique<SystemVolumeController>(AudioDirection::output, server, queue, *systemVolumeWrites_);
    cueBus_ = std::make_unique<CueBus>(defaults);
    deviceMonitor_ = std::make_unique<AudioDeviceMonitor>(AudioDirection::output, server, queue, defaults);
    inputVolume_ = std::make_unique<SystemVolumeController>(AudioDirection::input, server, queue, *systemVolumeWrites_);
    inputDeviceMonitor_ = std::make_unique<AudioDeviceMonitor>(AudioDirection::input, server, queue, defaults);
    bluetoothRouting_ = std::make_unique<BluetoothRouting>(services_.bluetooth, queue, *deviceMonitor_);
    if (services_.midiSystem) {
        midiManager_ = std::make_unique<MIDIManager>(*services_.midiSystem, queue);
        // Without a client and an input port there is no MIDI input to offer.
        if (midiManager_->client() == 0 || midiManager_->port() == 0) midiManager_.reset();
    }
    midiMapping_ = std::make_unique<MIDIMappingManager>(defaults);
    // From here on there is always an advertiser: the injected one, or one that announces nothing.
    if (!services_.advertiser) {
        ownAdvertiser_ = std::make_unique<NullServiceAdvertiser>();
        services_.advertiser = ownAdvertiser_.get();
    }
    oscListener_ = std::make_unique<OSCListener>(queue, services_.hostClock, *services_.advertiser, services_.oscPort);
    pairingPIN_ = std::make_unique<PairingPIN>(defaults);
    scenes_ = std::make_unique<SceneBook>(defaults, deferredSave_.get());
    recording_ = std::make_unique<RecordingControl>(server, defaults, services_.recorder);
    meters_ = std::make_unique<MeterClock>(queue);
    totalMixWriter_ =
        std::make_unique<TotalMixRoutingWriter>(queue, TotalMixRoutingWriter::kDefaultHost, services_.totalMixPort);
    taps_ = std::make_unique<TapSet>(
        TapSet::Parts{
            .mainQueue = queue,
            .audioServer = server,
            .routeVolumeWrites = *deviceVolumeWrites_,
            .processMonitor = *processMonitor_,
            .deviceMonitor = *deviceMonitor_,
            .settings = *settings_,
            .recorder = services_.recorder,
            .blockingWait = services_.blockingWait,
        },
        TapSet::Hooks{
            // Pairing, panic and recording act on every playing application.
            .forcesTaps = [this] { return isPaired() || isPanicked_ || isRecording() || isAutoRec(); },
            // A take (or automatic recording) keeps every playing application's tap, so that
            // the recording does not lose its sources.
            .holdsTaps = [this] { return anyCued() || isPanicked_ || isPaired() || isRecording() || isAutoRec(); },
            .levels = [this](const AppVolume& setting) { return tapLevels(setting); },
            .pairing = [this](const AudioDevice& device) { return cueBus_->pairing(device); },
            .tapsChanged = [this] { sendAppList(); },
            .stateChanged = [this] { changed(); },
            .tapMade = [this] { meters_->wake(); },
        });
    router_ = std::make_unique<ControlRouter>(*this, *settings_,
                                              ControlRouter::Hooks{
                                                  .settingsChanged = [this] { changed(); },
                                                  .phoneConnected =
                                                      [this](const NetworkEndpoint& endpoint) {
                                                          setIphoneEndpoint(endpoint);
                                                          // Sent once the message (and any that
                                                          // follow within 50 ms) has acted, so the
                                                          // phone sees its own change.
                                                          scheduleAppListSend();
                                                      },
                                              });
    companionBridge_ = std::make_unique<OSCCompanionBridge>(*this, queue, services_.companionReplyPort);
}

MixerEngine::~MixerEngine() {
    // Tasks and callbacks of the engine do nothing from here on.
    guard_.end();
    deferredSave_->flush();
    if (currentEngine().engine == this) currentEngine() = {};
    cueBus_->phonesBus().onChange = nullptr;
    systemVolume_->onVolumeChanged = nullptr;
    inputVolume_->onVolumeChanged = nullptr;
    deviceListener_.reset();
    processListToken_.reset();
    deviceListToken_.reset();
    // The web server's thread ends before the listener whose gate and commands it uses.
    webBridge_.reset();
    if (webServer_) services_.advertiser->withdraw("_http._tcp");
    webServer_.reset();
    // Taps stop their IO before the controllers and queues go.
    taps_.reset();
    oscListener_->stop();
}

// ---- Life cycle ----

void MixerEngine::start() {
    // Stored state: settings, bus pairings, slots and scenes. The cue's former output device
    // is no longer a setting of its own.
    settings_->load();
    services_.defaults.remove(std::string(defaults_keys::cueOutputUID));
    cueBus_->load();
    scenes_->load();
    taps_->startWatchdog();
    processMonitor_->start();
    systemVolume_->start();
    deviceMonitor_->start();
    inputVolume_->start();
    inputDeviceMonitor_->start();
    MirrorAggregateCleanup(services_.audioServer).run();
    cueBus_->phonesBus().onChange = guard_.wrap([this] { phonesLevelChanged(); });
    bluetoothRouting_->monitor().refresh();
    // The remote controls: the PIN into the OSC listener, MIDI and the companion's commands.
    oscListener_->setPIN(pairingPIN_->pin());
    if (midiManager_) router_->installMIDICallback(*midiManager_);
    router_->installCompanionCallbacks(*oscListener_);
    if (services_.webPort) startWebCompanion(*services_.webPort);
    auto volumeChanged = guard_.wrap([this] { scheduleAppListSend(); });
    systemVolume_->onVolumeChanged = volumeChanged;
    inputVolume_->onVolumeChanged = volumeChanged;
    // The rebuild is a task of its own so that the device monitor's refresh of the new default,
    // posted by its own listener, runs first.
    deviceListener_ = DeviceReader(services_.audioServer)
                          .watchDefaultDevice(AudioDirection::output, services_.mainQueue,
                                              guard_.wrap([this] { taps_->rebuildAll(); }));
    // The terminate hook finds the engine as the current one; a lane that outgrows its file
    // stops the whole take.
    setCurrent(this);
    if (services_.recorder) services_.recorder->setSizeCeilingHandler(guard_.wrap([this] { stopRecording(); }));
    observeMonitors();
    taps_->sync();
    meters_->start(guard_.wrap([this] { meterTick(); }));
    isStarted_ = true;
    changed();
}

void MixerEngine::shutdown() {
    deferredSave_->flush();
    taps_->shutdown();
}

MixerEngine* MixerEngine::current() {
    CurrentEngine& current = currentEngine();
    if (!current.engine || current.alive.expired()) return nullptr;
    return current.engine;
}

void MixerEngine::setCurrent(MixerEngine* engine) {
    currentEngine() = engine ? CurrentEngine{engine, engine->guard_.watch()} : CurrentEngine{};
}

void MixerEngine::setCompanionBridge(std::unique_ptr<CompanionBridge> bridge) { companionBridge_ = std::move(bridge); }

void MixerEngine::setIphoneEndpoint(std::optional<NetworkEndpoint> endpoint) {
    if (iphoneEndpoint_ == endpoint) return;
    iphoneEndpoint_ = std::move(endpoint);
    changed();
}

void MixerEngine::sendAppList() {
    if (companionBridge_) companionBridge_->sendAppList();
    if (webBridge_) webBridge_->scheduleStateSend();
}

void MixerEngine::scheduleAppListSend() {
    if (companionBridge_) companionBridge_->scheduleAppListSend();
    if (webBridge_) webBridge_->scheduleStateSend();
}

void MixerEngine::startWebCompanion(uint16_t port) {
    webServer_ = std::make_unique<WebServer>(services_.mainQueue, oscListener_->pinGate(), *oscListener_, port);
    if (!webServer_->isListening()) {
        log_.error(strprintf("The web companion cannot listen on TCP port %u", static_cast<unsigned>(port)));
        webServer_.reset();
        return;
    }
    webBridge_ = std::make_unique<WebCompanionBridge>(*this, services_.mainQueue, services_.hostClock, *webServer_);
    services_.advertiser->advertise(serviceInstanceName(), "_http._tcp", webServer_->port());
}

TapLevels MixerEngine::tapLevels(const AppVolume& setting) const {
    return tapLevelsFor(setting, anyCued(), isPanicked_, cueBus_->phonesBus().gain());
}

// ---- Application settings ----

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
    settings_->set(app.bundleID, setting);
    // The slider's own values go to a running tap as they are (a routed application's slider
    // is its devices' volume instead); only a new tap starts from tapLevels.
    if (ProcessTap* running = tap(app.bundleID)) {
        running->setVolume(setting.volume);
        running->setMuted(setting.isMuted);
        running->setCueVolume(setting.cueVolume);
    } else if (setting.isCustomized()) {
        taps_->make(app, setting);
    }
    changed();
}

void MixerEngine::setCueVolume(float value, const std::string& bundleID) {
    const AppVolume* existing = settings_->find(bundleID);
    if (!existing) return;
    AppVolume setting = *existing;
    setting.cueVolume = clampUnit(value);
    settings_->set(bundleID, setting);
    if (ProcessTap* running = tap(bundleID)) running->setCueVolume(setting.cueVolume);
    changed();
}

void MixerEngine::addOutput(const AudioDevice& device, const AudioApp& app) {
    AppVolume setting = volume(app);
    auto& outputs = setting.outputDeviceUIDs;
    if (std::find(outputs.begin(), outputs.end(), device.uid) != outputs.end()) return;
    outputs.push_back(device.uid);
    settings_->set(app.bundleID, setting);
    taps_->rebuild(app, setting);
    changed();
}

void MixerEngine::removeOutput(const std::string& uid, const AudioApp& app) {
    const AppVolume* existing = settings_->find(app.bundleID);
    if (!existing) return;
    std::vector<std::string> outputs = existing->outputDeviceUIDs;
    const auto end = std::remove(outputs.begin(), outputs.end(), uid);
    if (end == outputs.end()) return;
    outputs.erase(end, outputs.end());
    storeOutputs(app, std::move(outputs));
}

void MixerEngine::clearOutputs(const AudioApp& app) {
    const AppVolume* existing = settings_->find(app.bundleID);
    if (!existing || existing->outputDeviceUIDs.empty()) return;
    storeOutputs(app, {});
}

void MixerEngine::storeOutputs(const AudioApp& app, std::vector<std::string> outputs) {
    AppVolume setting = volume(app);
    setting.outputDeviceUIDs = std::move(outputs);
    // An entry that is back at the default setting goes.
    if (setting.isCustomized()) {
        settings_->set(app.bundleID, setting);
    } else {
        settings_->remove(app.bundleID);
    }
    taps_->rebuild(app, setting);
    changed();
}

void MixerEngine::resetApp(const AudioApp& app) {
    settings_->resetNow(app.bundleID);
    taps_->remove(app.bundleID);
    changed();
}

void MixerEngine::connectBluetooth(const BluetoothAudioDevice& device) { bluetoothRouting_->connect(device); }

// ---- Buses and cue ----

void MixerEngine::setBusPairing(const std::string& uid, int mainOffset, int phonesOffset) {
    const bool isNew = cueBus_->choose(uid, mainOffset, phonesOffset);
    changed();
    // A user who picks a new pair expects to hear it at once: the taps playing to that device
    // are rebuilt with the new offsets rather than kept until some later rebuild.
    if (isNew) taps_->removePlayingTo(uid);
    taps_->sync();
}

bool MixerEngine::namesAnApp(const std::string& bundleID) const {
    if (settings_->find(bundleID)) return true;
    const auto& apps = processMonitor_->apps();
    return std::any_of(apps.begin(), apps.end(), [&](const AudioApp& app) { return app.bundleID == bundleID; });
}

void MixerEngine::setCue(bool cued, const std::string& bundleID) {
    if (cued && !isPaired()) return;
    // An ID that names nothing (a phone may send any) would only grow the stored settings.
    if (!namesAnApp(bundleID)) return;
    log_.debug(strprintf("setCue %s for %s", cued ? "true" : "false", bundleID.c_str()));
    AppVolume setting = settings_->setting(bundleID);
    setting.isCued = cued;
    settings_->set(bundleID, setting);
    taps_->sync();
    applyCueState();
    sendAppList();
    changed();
}

void MixerEngine::applyCueState() {
    // Only the PHONES mode follows the cue; the taps' other levels stay as they are.
    for (const auto& [bundleID, running] : taps()) {
        running->setPhonesMode(tapLevels(settings_->setting(bundleID)).phonesMode);
    }
    taps_->cancelCoverageDrop();
    if (!anyCued()) taps_->scheduleCoverageDrop();
}

void MixerEngine::phonesLevelChanged() {
    const float gain = cueBus_->phonesBus().gain();
    for (const auto& [bundleID, running] : taps()) running->setPhonesBusGain(gain);
    sendAppList();
}

void MixerEngine::writeTotalMixDefaultRouting() {
    if (totalMixWriter_->isWriting()) return;
    const AudioDevice* device = deviceMonitor_->defaultDevice();
    const auto pairing = device ? cueBus_->pairing(*device) : std::nullopt;
    if (!pairing) return;
    totalMixWriter_->writeDefaultRouting(pairing->mainOffset, pairing->phonesOffset);
}

// ---- Scenes and console slots ----

void MixerEngine::saveScene(const std::string& name) {
    MixSnapshot scene;
    scene.id = UUID::random();
    scene.name = name;
    scene.volumes = volumes();
    scene.mainLevel = systemVolume_->volume();
    // Without a paired default device there is no PHONES bus to remember.
    if (const VolumeControlling* phones = phonesController()) scene.phonesLevel = phones->volume();
    scene.savedAt = ReferenceDate::now();
    if (!scenes_->save(std::move(scene))) {
        // Said once for a run of refusals (a phone may repeat the save many times).
        if (!sceneLimitReported_) {
            log_.error(strprintf("Scene not saved: there are already %zu scenes", SceneBook::kMaxScenes));
        }
        sceneLimitReported_ = true;
        return;
    }
    sendAppList();
    changed();
}

void MixerEngine::applyScene(const MixSnapshot& sceneRef) {
    // The argument may be one of our own scenes; nothing below changes the list, but a copy
    // keeps the recall independent of it.
    const MixSnapshot scene = sceneRef;
    settings_->replaceAll(scene.volumes);
    taps_->rebuildAll();
    for (const auto& [bundleID, running] : taps()) tapLevels(settings_->setting(bundleID)).applyTo(*running);
    applyCueState();
    if (scene.mainLevel) systemVolume_->setVolume(*scene.mainLevel);
    if (scene.phonesLevel) {
        if (VolumeControlling* phones = phonesController()) phones->setVolume(*scene.phonesLevel);
    }
    sendAppList();
    changed();
}

void MixerEngine::deleteScene(const UUID& id) {
    scenes_->remove(id);
    sceneLimitReported_ = false;
    sendAppList();
    changed();
}

void MixerEngine::setSlot(int index, const std::string& target) {
    if (!scenes_->setSlot(index, target)) return;
    sendAppList();
    changed();
}

// ---- Panic, meters and recording ----

void MixerEngine::setPanicked(bool on) {
    if (on == isPanicked_) return;
    isPanicked_ = on;
    log_.info(strprintf("Panic %s", on ? "engaged" : "released"));
    if (on) {
        // With the panic set, every playing application gets a tap to silence.
        taps_->cancelCoverageDrop();
        taps_->sync();
    }
    for (const auto& [bundleID, running] : taps()) running->setPanicked(on);
    // Released: the taps that only existed for the panic go 0.3 s later.
    if (!on) taps_->scheduleCoverageDrop();
    changed();
}

void MixerEngine::meterTick() {
    // What the taps' IO threads captured for the log since the last tick.
    for (const auto& [bundleID, running] : taps()) running->logDiagnostics();
    const bool webSessions = webBridge_ && webBridge_->hasSessions();
    const MeterClock::Tick tick = meters_->tick(taps_->takePeaks(), iphoneEndpoint_.has_value() || webSessions);
    if (tick.levelsChanged) changed();
    if (tick.frame && companionBridge_) companionBridge_->sendMeters(*tick.frame);
    if (tick.frame && webBridge_) webBridge_->sendMeters(*tick.frame);
}

void MixerEngine::startRecording() {
    if (!recording_->begin(deviceMonitor_->defaultDevice())) return;
    // Every playing application gets a tap, and every tap its lane.
    taps_->sync();
    recording_->openTake();
    sendAppList();
    changed();
}

void MixerEngine::stopRecording() {
    if (!recording_->end()) return;
    // The taps that only existed for the take go.
    taps_->scheduleCoverageDrop();
    sendAppList();
    changed();
}

void MixerEngine::setIsAutoRec(bool on) {
    if (!recording_->setAutoRec(on)) return;
    changed();
    // Automatic recording keeps a tap (and so a lane) on every playing application.
    if (on && isStarted_) taps_->sync();
}

// ---- Control targets ----

void MixerEngine::handleControl(const std::string& target, float value) { router_->handleControl(target, value); }

void MixerEngine::setValue(const std::string& target, float value) { router_->setValue(target, value); }

void MixerEngine::resetCompanionPairing() {
    pairingPIN_->regenerate();
    oscListener_->setPIN(pairingPIN_->pin());
    // Every web session was opened with the old PIN.
    if (webServer_) webServer_->closeAllSessions();
    // The previous phone hears nothing more until it pairs with the new PIN.
    setIphoneEndpoint(std::nullopt);
}

// ---- Observing the monitors ----

void MixerEngine::observeMonitors() {
    observedDevices_ = deviceMonitor_->devices();
    processListToken_ = processMonitor_->addObserver(guard_.wrap([this] {
        if (processListTaskPending_) return;
        processListTaskPending_ = true;
        services_.mainQueue.post(guard_.wrap([this] { processListChanged(); }));
    }));
    deviceListToken_ = deviceMonitor_->addObserver(guard_.wrap([this] {
        // The monitor also reports a new default device; that change reaches the engine
        // through its own default-device listener.
        if (deviceListTaskPending_ || deviceMonitor_->devices() == observedDevices_) return;
        deviceListTaskPending_ = true;
        services_.mainQueue.post(guard_.wrap([this] { deviceListChanged(); }));
    }));
}

void MixerEngine::processListChanged() {
    processListTaskPending_ = false;
    taps_->sync();
}

void MixerEngine::deviceListChanged() {
    deviceListTaskPending_ = false;
    observedDevices_ = deviceMonitor_->devices();
    bluetoothRouting_->refreshNowAndLater();
    taps_->rebuildAll();
    changed();
}

} // namespace orevant
