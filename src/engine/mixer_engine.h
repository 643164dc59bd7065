#pragma once
// The central model: the applications' settings, which applications get a ProcessTap and with
// which outputs, the MAIN/PHONES buses and cue, scenes and console slots, panic, meters,
// recording control, and the glue to every monitor, controller and remote control.
//
// Threads: the engine is confined to the main queue. Every method, callback and task below runs
// there. Its tasks hold a liveness token weakly and do nothing once the engine is gone. The only
// data it shares with other threads are the tap parameters, which ProcessTap carries as
// relaxed atomics.
//
// The engine's operations are split over several source files, one per group:
//   mixer_engine.cpp                 construction, start, application settings, deferred save,
//                                    observation of the monitors, Bluetooth routing, slots
//   mixer_engine_start_hooks.cpp     start steps that wire the OSC listener, MIDI and companion
//   mixer_engine_buses.cpp           buses, channel pairing and cue
//   mixer_engine_taps.cpp            tap lifecycle
//   mixer_engine_panic_meters.cpp    panic and the meter clock
//   mixer_engine_scenes.cpp          scenes
//   mixer_engine_control_targets.cpp control targets
//   mixer_engine_recording.cpp       recording control
#include "audio/audio_app.h"
#include "audio/audio_device.h"
#include "audio/bluetooth_audio_device.h"
#include "audio/observer_list.h"
#include "capture/process_tap.h"
#include "engine/bus_pairing.h"
#include "midi/midi_source.h"
#include "persistence/app_volume.h"
#include "persistence/mix_snapshot.h"
#include "platform/logger.h"
#include "platform/main_queue.h"
#include "remote/network_endpoint.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class AudioProcessMonitor;
class AudioDeviceMonitor;
class AudioServer;
class Bluetooth;
class BluetoothAudioMonitor;
class CompanionBridge;
class DefaultsStore;
class DeviceVolumeController;
class HALListener;
class HostClock;
class MIDIManager;
class MIDIMappingManager;
class MIDISystem;
class MixRecorder;
class OSCListener;
class PairingPIN;
class PhonesBusVolumeController;
class ServiceAdvertiser;
class SnapshotStore;
class SystemVolumeController;
class TotalMixRoutingWriter;
class VolumeControlling;
class VolumeStore;
class VolumeWriteQueue;
class Workspace;

class MixerEngine {
public:
    // Timing constants.
    static constexpr double kSaveDelaySeconds = 0.4;
    static constexpr double kBluetoothRefreshDelaySeconds = 2.0;
    static constexpr int kBluetoothRoutingTries = 16;
    static constexpr double kBluetoothRoutingIntervalSeconds = 0.3;
    static constexpr double kCoverageDropDelaySeconds = 0.3;
    static constexpr double kWatchdogPeriodSeconds = 2.0;
    static constexpr int kWatchdogStrikes = 2;
    static constexpr double kTapRetryDelaysSeconds[4] = {1.0, 2.0, 4.0, 8.0};
    static constexpr float kShutdownUnityThreshold = 0.999f;
    static constexpr double kShutdownWaitSeconds = 0.15;
    static constexpr double kMeterIntervalSeconds = 1.0 / 30.0;
    static constexpr float kMeterDecay = 0.88f;
    static constexpr int kMeterFrameEveryTicks = 3;
    static constexpr float kMeterSilenceThreshold = 0.001f;
    static constexpr double kDefaultRecordingSampleRate = 48000.0;
    static constexpr size_t kSlotCount = 8;

    // The platform services the engine is built on; the agent and the tests fill it alike.
    // Everything referenced must outlive the engine.
    struct Services {
        MainQueue& mainQueue;
        AudioServer& audioServer;
        DefaultsStore& defaults;
        Workspace& workspace;
        Bluetooth& bluetooth;
        const HostClock& hostClock;
        // MIDI input; none: the engine runs without a MIDI manager.
        MIDISystem* midiSystem = nullptr;
        // DNS-SD advertisement of the OSC listener; none: nothing is advertised.
        ServiceAdvertiser* advertiser = nullptr;
        // UDP port of the OSC listener; 0 takes any free port (tests).
        uint16_t oscPort = 9000;
        // UDP port of TotalMix's OSC input on this computer (tests: a loopback peer).
        uint16_t totalMixPort = 7001;
        // The process-wide recorder; none: taps are made without recording lanes.
        MixRecorder* recorder = nullptr;
        // The one blocking wait of the engine (shutdown lets gain ramps reach unity). Default:
        // sleeps the calling thread. Tests run audio cycles for the time asked instead.
        std::function<void(double seconds)> blockingWait;
    };

    // Creates the owned parts in the order of the fields below. Nothing is loaded and no tap
    // is made until start().
    explicit MixerEngine(Services services);
    ~MixerEngine();
    MixerEngine(const MixerEngine&) = delete;
    MixerEngine& operator=(const MixerEngine&) = delete;

    // ---- Life cycle ----
    // Called once by the application shell.
    void start();
    // Brings attenuated applications back to unity, then releases every tap.
    void shutdown();

    // The process-wide current engine (registered by start(), held weakly); null when none.
    static MixerEngine* current();
    // Tests: make `engine` (or none) the current engine.
    static void setCurrent(MixerEngine* engine);

    // ---- Observation: the observer runs after any observable field changed ----
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer);

    // ---- Owned parts ----
    AudioProcessMonitor& processMonitor() const { return *processMonitor_; }
    SystemVolumeController& systemVolume() const { return *systemVolume_; }
    PhonesBusVolumeController& phonesBusVolume() const { return *phonesBusVolume_; }
    AudioDeviceMonitor& deviceMonitor() const { return *deviceMonitor_; }
    SystemVolumeController& inputVolume() const { return *inputVolume_; }
    AudioDeviceMonitor& inputDeviceMonitor() const { return *inputDeviceMonitor_; }
    BluetoothAudioMonitor& bluetooth() const { return *bluetooth_; }
    MIDIManager* midiManager() const { return midiManager_.get(); }
    MIDIMappingManager& midiMapping() const { return *midiMapping_; }
    OSCListener& oscListener() const { return *oscListener_; }
    PairingPIN& pairingPIN() const { return *pairingPIN_; }
    VolumeStore& store() const { return *store_; }
    SnapshotStore& snapshotStore() const { return *snapshotStore_; }
    MixRecorder* recorder() const { return services_.recorder; }
    CompanionBridge* companionBridge() const { return companionBridge_.get(); }
    void setCompanionBridge(std::unique_ptr<CompanionBridge> bridge);
    const Services& services() const { return services_; }

    // ---- Observable state ----
    bool isRetryingTaps() const { return isRetryingTaps_; }
    const std::optional<NetworkEndpoint>& iphoneEndpoint() const { return iphoneEndpoint_; }
    void setIphoneEndpoint(std::optional<NetworkEndpoint> endpoint);
    const std::map<std::string, BusPairing>& busPairings() const { return busPairings_; }
    const std::vector<std::string>& slots() const { return slots_; }
    bool needsAudioCapturePermission() const { return needsAudioCapturePermission_; }
    bool isStarted() const { return isStarted_; }
    const std::map<std::string, AppVolume>& volumes() const { return volumes_; }
    const std::vector<MixSnapshot>& snapshots() const { return snapshots_; }
    bool isAutoRec() const { return isAutoRec_; }
    // Stores the switch and writes it under "autoRec".
    void setIsAutoRec(bool on);
    bool isRecording() const { return isRecording_; }
    const std::optional<std::filesystem::path>& recordingURL() const { return recordingURL_; }
    bool isPanicked() const { return isPanicked_; }
    const std::map<std::string, float>& meterLevels() const { return meterLevels_; }

    // ---- Other state ----
    const std::map<std::string, std::unique_ptr<ProcessTap>>& taps() const { return taps_; }
    // The tap of one application, or null.
    ProcessTap* tap(const std::string& bundleID) const;
    const std::map<std::string, std::unique_ptr<DeviceVolumeController>>& routeVolumes() const { return routeVolumes_; }
    const std::optional<std::filesystem::path>& scopedRecordingFolder() const { return scopedRecordingFolder_; }
    // Both count the ticks the meter clock slept through too (see meterClockAsleep_).
    int64_t meterTick() const { return meterTick_ + meterTicksSlept(); }
    int64_t autoRecTick() const { return autoRecTick_ + meterTicksSlept(); }
    bool metersWereSilent() const { return metersWereSilent_; }

    // ---- Derived values ----
    // The listed output device that is the system default, if any.
    std::optional<AudioDevice> currentOutputDevice() const;
    // The default output device exists and has a MAIN/PHONES pairing.
    bool isPaired() const;
    // Some setting is cued to PHONES.
    bool anyCued() const;

    // ---- Application settings ----
    AppVolume volume(const AudioApp& app) const;
    std::vector<std::string> outputDeviceUIDs(const AudioApp& app) const;
    void setVolume(float value, const AudioApp& app);
    void toggleMute(const AudioApp& app);
    void setCueVolume(float value, const std::string& bundleID);
    void addOutput(const AudioDevice& device, const AudioApp& app);
    void removeOutput(const std::string& uid, const AudioApp& app);
    void clearOutputs(const AudioApp& app);
    void resetApp(const AudioApp& app);
    std::optional<std::string> deviceName(const std::string& uid) const;
    DeviceVolumeController* routeVolumeController(const std::string& uid) const;
    void connectBluetooth(const BluetoothAudioDevice& device);
    std::optional<BluetoothAudioDevice> bluetoothDevice(const AudioDevice& device) const;

    // ---- Buses, channel pairing and cue ----
    std::optional<ProcessTap::ChannelPairing> channelPairing(const AudioDevice& device) const;
    // The PHONES level control while the default device is paired, else null.
    VolumeControlling* phonesController() const;
    void setBusPairing(const std::string& uid, int mainOffset, int phonesOffset);
    void setCue(bool cued, const std::string& bundleID);
    void applyCueState();
    // Writes the default MAIN/PHONES routing to a TotalMix mixer; nothing while a write runs or
    // while the default output device has no pairing.
    void writeTotalMixDefaultRouting();
    bool isWritingTotalMixRouting() const;

    // ---- Scenes and console slots ----
    void saveScene(const std::string& name);
    void applyScene(const MixSnapshot& scene);
    void deleteScene(const UUID& id);
    void setSlot(int index, const std::string& target);
    std::vector<std::string> loadSlots() const;

    // ---- Panic, metering, recording ----
    void setPanicked(bool on);
    void startMeterClock();
    void startRecording();
    void stopRecording();

    // ---- Control targets ----
    void handleControl(const std::string& target, float value);
    void setValue(const std::string& target, float value);
    void resetCompanionPairing();

    // ---- Tap lifecycle ----
    void syncTaps();
    void makeTap(const AudioApp& app, const AppVolume& setting);
    // Throws HALError when the default output device cannot be read.
    std::vector<ProcessTap::Output> resolveOutputs(const AppVolume& setting) const;
    void updateRouteVolumes();
    void rebuildTap(const AudioApp& app, const AppVolume& setting);
    void rebuildTaps();
    void scheduleCoverageDrop();
    void scheduleTapRetry();

    // ---- Deferred save ----
    void scheduleSave();

private:
    using Alive = std::shared_ptr<char>;

    // Settings.
    void apply(const AppVolume& setting, const AudioApp& app);
    void storeOutputs(const AudioApp& app, std::vector<std::string> outputs);
    void saveNow();

    // Start steps and observation.
    void installListenerPIN();        // step 11
    void installMIDICallback();       // step 12
    void installCompanionCallbacks(); // step 13
    void observeMonitors();           // step 17
    void processListChanged();
    void deviceListChanged();
    void startWatchdog();
    void watchdogCheck();
    void runTapRetry(size_t attempt);
    void routeToBluetooth(const BluetoothAudioDevice& device, int attempt);

    // MIDI and the companion's numbered controls: learn, or look up and handle.
    void applyLearnedControl(int number, float value, const std::optional<MIDISource>& source);

    // Meters.
    void meterTickNow();
    void armMeterTick(double seconds);
    void wakeMeterClock();
    int64_t meterTicksSlept() const;

    // Companion bridge requests; nothing while there is no bridge.
    void sendAppList();
    void scheduleAppListSend();

    void phonesLevelChanged();
    void stopAndRemoveTap(const std::string& bundleID);
    void changed() const;
    std::weak_ptr<char> weakAlive() const { return alive_; }

    Services services_;
    Logger log_{"MixerEngine"};

    // Volume write queues, ahead of the controllers that use them.
    std::unique_ptr<VolumeWriteQueue> deviceVolumeWrites_;
    std::unique_ptr<VolumeWriteQueue> systemVolumeWrites_;

    // Fields, in declaration order.
    std::unique_ptr<AudioProcessMonitor> processMonitor_;
    std::unique_ptr<SystemVolumeController> systemVolume_;
    std::unique_ptr<PhonesBusVolumeController> phonesBusVolume_;
    std::unique_ptr<AudioDeviceMonitor> deviceMonitor_;
    bool isRetryingTaps_ = false;
    std::unique_ptr<SystemVolumeController> inputVolume_;
    std::unique_ptr<AudioDeviceMonitor> inputDeviceMonitor_;
    std::unique_ptr<BluetoothAudioMonitor> bluetooth_;
    std::unique_ptr<MIDIManager> midiManager_;
    std::unique_ptr<MIDIMappingManager> midiMapping_;
    std::unique_ptr<ServiceAdvertiser> ownAdvertiser_;
    std::unique_ptr<OSCListener> oscListener_;
    std::unique_ptr<PairingPIN> pairingPIN_;
    std::optional<NetworkEndpoint> iphoneEndpoint_;
    std::map<std::string, BusPairing> busPairings_;
    std::vector<std::string> slots_;
    bool needsAudioCapturePermission_ = false;
    bool isStarted_ = false;
    std::map<std::string, AppVolume> volumes_;
    std::map<std::string, std::unique_ptr<ProcessTap>> taps_;
    std::map<std::string, std::unique_ptr<DeviceVolumeController>> routeVolumes_;
    std::unique_ptr<VolumeStore> store_;
    std::unique_ptr<SnapshotStore> snapshotStore_;
    std::unique_ptr<HALListener> deviceListener_;
    TaskHandle saveTask_;
    TaskHandle routingTask_;
    TaskHandle bluetoothRefreshTask_;
    TaskHandle coverageDropTask_;
    TaskHandle appListSendTask_;
    // Holds the running TotalMix write (its task) while one is under way.
    std::unique_ptr<TotalMixRoutingWriter> totalMixWriter_;
    std::vector<MixSnapshot> snapshots_;
    bool isAutoRec_ = false;
    TaskHandle autoRecSilenceTask_;
    bool isRecording_ = false;
    std::optional<std::filesystem::path> recordingURL_;
    std::optional<std::filesystem::path> scopedRecordingFolder_;
    bool isPanicked_ = false;
    std::map<std::string, float> meterLevels_;
    TaskHandle meterTimer_;
    // While no tap exists, the meters read empty and the companion has had its last frame, a tick
    // changes nothing but the counters: the clock then sleeps until the next tap is made, and the
    // ticks it slept through are counted as if they had run.
    bool meterClockAsleep_ = false;
    double lastMeterTickAt_ = 0.0; // main queue clock
    int64_t meterTick_ = 0;
    int64_t autoRecTick_ = 0;
    bool metersWereSilent_ = true;

    // Owned beside the fields.
    std::unique_ptr<CompanionBridge> companionBridge_;
    TaskHandle watchdogTask_;
    std::map<const ProcessTap*, int> watchdogStrikes_;
    TaskHandle tapRetryTask_;
    bool processListTaskPending_ = false;
    bool deviceListTaskPending_ = false;
    std::vector<AudioDevice> observedDevices_;
    ObserverList::Token processListToken_;
    ObserverList::Token deviceListToken_;
    ObserverList observers_;
    Alive alive_ = std::make_shared<char>();
};

} // namespace orevant
