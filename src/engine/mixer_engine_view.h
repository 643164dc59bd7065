#pragma once
// What the windows, the live view, the status menu and the companion read of the engine: its
// owned parts, its observable fields and the values derived from them, and the observer that
// tells when any of them changed. Read-only; MixerEngine adds the operations. The parts live
// here, so one object owns them and the view reads them directly.
//
// Threads: main queue only.
#include "audio/audio_app.h"
#include "audio/audio_device.h"
#include "audio/bluetooth_audio_device.h"
#include "audio/observer_list.h"
#include "capture/process_tap.h"
#include "engine/bus_pairing.h"
#include "persistence/app_volume.h"
#include "persistence/mix_snapshot.h"
#include "remote/network_endpoint.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class AppSettings;
class AudioDeviceMonitor;
class AudioProcessMonitor;
class BluetoothAudioMonitor;
class BluetoothRouting;
class CueBus;
class DeferredSave;
class DeviceVolumeController;
class MeterClock;
class MIDIManager;
class MIDIMappingManager;
class MixRecorder;
class OSCListener;
class PairingPIN;
class PhonesBusVolumeController;
class RecordingControl;
class SceneBook;
class ServiceAdvertiser;
class SystemVolumeController;
class TapSet;
class TotalMixRoutingWriter;
class VolumeControlling;
class VolumeWriteQueue;

class MixerEngineView {
public:
    MixerEngineView(const MixerEngineView&) = delete;
    MixerEngineView& operator=(const MixerEngineView&) = delete;

    // The observer runs after any observable field below changed.
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) const;

    // ---- Owned parts ----
    AudioProcessMonitor& processMonitor() const { return *processMonitor_; }
    SystemVolumeController& systemVolume() const { return *systemVolume_; }
    PhonesBusVolumeController& phonesBusVolume() const;
    AudioDeviceMonitor& deviceMonitor() const { return *deviceMonitor_; }
    SystemVolumeController& inputVolume() const { return *inputVolume_; }
    AudioDeviceMonitor& inputDeviceMonitor() const { return *inputDeviceMonitor_; }
    BluetoothAudioMonitor& bluetooth() const;
    // Null when MIDI input could not be set up.
    MIDIManager* midiManager() const { return midiManager_.get(); }
    MIDIMappingManager& midiMapping() const { return *midiMapping_; }
    OSCListener& oscListener() const { return *oscListener_; }
    PairingPIN& pairingPIN() const { return *pairingPIN_; }
    // The shared recorder; null when the agent records nothing.
    MixRecorder* recorder() const;

    // ---- Observable state ----
    bool isStarted() const { return isStarted_; }
    const std::map<std::string, AppVolume>& volumes() const;
    const std::map<std::string, BusPairing>& busPairings() const;
    const std::vector<std::string>& slots() const;
    const std::vector<MixSnapshot>& snapshots() const;
    bool isPanicked() const { return isPanicked_; }
    const std::map<std::string, float>& meterLevels() const;
    bool isRecording() const;
    bool isAutoRec() const;
    // Folder of the current or last take.
    const std::optional<std::filesystem::path>& recordingURL() const;
    // Why the last take was refused or ended early; empty once a take starts well.
    const std::optional<std::string>& recordingFailure() const;
    // The phone that spoke last; replies go to its host.
    const std::optional<NetworkEndpoint>& iphoneEndpoint() const { return iphoneEndpoint_; }
    bool isRetryingTaps() const;
    // The last tap start failed: the user is asked for audio-capture permission.
    bool needsAudioCapturePermission() const;

    // ---- Taps ----
    const std::map<std::string, std::unique_ptr<ProcessTap>>& taps() const;
    // The tap of one application, or null.
    ProcessTap* tap(const std::string& bundleID) const;
    const std::map<std::string, std::unique_ptr<DeviceVolumeController>>& routeVolumes() const;
    DeviceVolumeController* routeVolumeController(const std::string& uid) const;

    // ---- Derived values ----
    // The listed output device that is the system default, if any.
    std::optional<AudioDevice> currentOutputDevice() const;
    // The default output device carries MAIN and PHONES on two channel pairs.
    bool isPaired() const;
    // Some setting is cued to PHONES.
    bool anyCued() const;
    // The application's setting, or the default setting.
    AppVolume volume(const AudioApp& app) const;
    std::vector<std::string> outputDeviceUIDs(const AudioApp& app) const;
    std::optional<std::string> deviceName(const std::string& uid) const;
    std::optional<ProcessTap::ChannelPairing> channelPairing(const AudioDevice& device) const;
    // The PHONES level control while the default device is paired, else null.
    VolumeControlling* phonesController() const;
    // The paired Bluetooth device an output device belongs to.
    std::optional<BluetoothAudioDevice> bluetoothDevice(const AudioDevice& device) const;
    bool isWritingTotalMixRouting() const;
    // The name "Save Current Mix as Scene" gives the next scene.
    std::string nextSceneName() const;
    // Where the next take goes, for display.
    std::string recordingFolderDisplayPath() const;

protected:
    MixerEngineView();
    ~MixerEngineView();
    void changed() const { observers_.notify(); }

    // The parts, in the order they are made. The write queues come first so that they outlive
    // every controller that writes through them.
    std::unique_ptr<VolumeWriteQueue> deviceVolumeWrites_;
    std::unique_ptr<VolumeWriteQueue> systemVolumeWrites_;
    // Settings, scenes and slots are written through it; it outlives them.
    std::unique_ptr<DeferredSave> deferredSave_;
    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<AudioProcessMonitor> processMonitor_;
    std::unique_ptr<SystemVolumeController> systemVolume_;
    std::unique_ptr<CueBus> cueBus_;
    std::unique_ptr<AudioDeviceMonitor> deviceMonitor_;
    std::unique_ptr<SystemVolumeController> inputVolume_;
    std::unique_ptr<AudioDeviceMonitor> inputDeviceMonitor_;
    std::unique_ptr<BluetoothRouting> bluetoothRouting_;
    std::unique_ptr<MIDIManager> midiManager_;
    std::unique_ptr<MIDIMappingManager> midiMapping_;
    std::unique_ptr<ServiceAdvertiser> ownAdvertiser_;
    std::unique_ptr<OSCListener> oscListener_;
    std::unique_ptr<PairingPIN> pairingPIN_;
    std::unique_ptr<SceneBook> scenes_;
    std::unique_ptr<RecordingControl> recording_;
    std::unique_ptr<MeterClock> meters_;
    std::unique_ptr<TotalMixRoutingWriter> totalMixWriter_;
    std::unique_ptr<TapSet> taps_;

    bool isStarted_ = false;
    bool isPanicked_ = false;
    std::optional<NetworkEndpoint> iphoneEndpoint_;

private:
    mutable ObserverList observers_;
};

} // namespace orevant
