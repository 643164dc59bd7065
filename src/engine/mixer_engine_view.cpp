#include "engine/mixer_engine_view.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_write_queue.h"
#include "engine/app_settings.h"
#include "engine/bluetooth_routing.h"
#include "engine/cue_bus.h"
#include "engine/deferred_save.h"
#include "engine/meter_clock.h"
#include "engine/recording_control.h"
#include "engine/scene_book.h"
#include "engine/tap_set.h"
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "platform/service_advertiser.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"
#include "remote/total_mix_routing_writer.h"

namespace orevant {

MixerEngineView::MixerEngineView() = default;
MixerEngineView::~MixerEngineView() = default;

ObserverList::Token MixerEngineView::addObserver(ObserverList::Observer observer) const {
    return observers_.add(std::move(observer));
}

PhonesBusVolumeController& MixerEngineView::phonesBusVolume() const { return cueBus_->phonesBus(); }
BluetoothAudioMonitor& MixerEngineView::bluetooth() const { return bluetoothRouting_->monitor(); }
MixRecorder* MixerEngineView::recorder() const { return recording_->recorder(); }

const std::map<std::string, AppVolume>& MixerEngineView::volumes() const { return settings_->all(); }
const std::map<std::string, BusPairing>& MixerEngineView::busPairings() const { return cueBus_->pairings(); }
const std::vector<std::string>& MixerEngineView::slots() const { return scenes_->slots(); }
const std::vector<MixSnapshot>& MixerEngineView::snapshots() const { return scenes_->snapshots(); }
const std::map<std::string, float>& MixerEngineView::meterLevels() const { return meters_->levels(); }
bool MixerEngineView::isRecording() const { return recording_->isRecording(); }
bool MixerEngineView::isAutoRec() const { return recording_->isAutoRec(); }
const std::optional<std::filesystem::path>& MixerEngineView::recordingURL() const { return recording_->recordingURL(); }
const std::optional<std::string>& MixerEngineView::recordingFailure() const { return recording_->failure(); }
bool MixerEngineView::isRetryingTaps() const { return taps_->isRetrying(); }
bool MixerEngineView::needsAudioCapturePermission() const { return taps_->needsAudioCapturePermission(); }

const std::map<std::string, std::unique_ptr<ProcessTap>>& MixerEngineView::taps() const { return taps_->taps(); }
ProcessTap* MixerEngineView::tap(const std::string& bundleID) const { return taps_->tap(bundleID); }
const std::map<std::string, std::unique_ptr<DeviceVolumeController>>& MixerEngineView::routeVolumes() const {
    return taps_->routeVolumes();
}
DeviceVolumeController* MixerEngineView::routeVolumeController(const std::string& uid) const {
    return taps_->routeVolume(uid);
}

std::optional<AudioDevice> MixerEngineView::currentOutputDevice() const {
    const AudioDevice* device = deviceMonitor_->defaultDevice();
    return device ? std::optional<AudioDevice>(*device) : std::nullopt;
}

bool MixerEngineView::isPaired() const {
    const AudioDevice* device = deviceMonitor_->defaultDevice();
    return device && cueBus_->pairing(*device).has_value();
}

bool MixerEngineView::anyCued() const { return settings_->anyCued(); }

AppVolume MixerEngineView::volume(const AudioApp& app) const { return settings_->setting(app.bundleID); }

std::vector<std::string> MixerEngineView::outputDeviceUIDs(const AudioApp& app) const {
    return settings_->setting(app.bundleID).outputDeviceUIDs;
}

std::optional<std::string> MixerEngineView::deviceName(const std::string& uid) const {
    if (const AudioDevice* device = deviceMonitor_->device(uid)) return device->name;
    return std::nullopt;
}

std::optional<ProcessTap::ChannelPairing> MixerEngineView::channelPairing(const AudioDevice& device) const {
    return cueBus_->pairing(device);
}

VolumeControlling* MixerEngineView::phonesController() const { return isPaired() ? &cueBus_->phonesBus() : nullptr; }

std::optional<BluetoothAudioDevice> MixerEngineView::bluetoothDevice(const AudioDevice& device) const {
    return bluetoothRouting_->pairedDevice(device);
}

bool MixerEngineView::isWritingTotalMixRouting() const { return totalMixWriter_->isWriting(); }

std::string MixerEngineView::nextSceneName() const { return scenes_->nextSceneName(); }

std::string MixerEngineView::recordingFolderDisplayPath() const { return recording_->folderDisplayPath(); }

} // namespace orevant
