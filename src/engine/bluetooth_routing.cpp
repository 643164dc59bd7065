#include "engine/bluetooth_routing.h"

#include "audio/audio_device.h"
#include "audio/audio_device_monitor.h"
#include "audio/bluetooth_audio_monitor.h"

#include <algorithm>
#include <cctype>

namespace orevant {

namespace {

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A Bluetooth device's audio devices carry its address at the start of their UID.
bool belongsTo(const AudioDevice& audioDevice, const BluetoothAudioDevice& paired) {
    const std::string address = lowercased(paired.id);
    return !address.empty() && lowercased(audioDevice.uid).rfind(address, 0) == 0;
}

} // namespace

BluetoothRouting::BluetoothRouting(Bluetooth& bluetooth, MainQueue& mainQueue, AudioDeviceMonitor& outputDevices)
    : mainQueue_(mainQueue),
      outputDevices_(outputDevices),
      monitor_(std::make_unique<BluetoothAudioMonitor>(bluetooth, mainQueue)) {}

BluetoothRouting::~BluetoothRouting() {
    routingTask_.cancel();
    refreshTask_.cancel();
}

void BluetoothRouting::connect(const BluetoothAudioDevice& device) {
    monitor_->connect(device, guard_.wrap([this](const BluetoothAudioDevice& connected) {
        routingTask_.cancel();
        routingTask_ = {};
        routeTo(connected, 0);
    }));
}

void BluetoothRouting::routeTo(const BluetoothAudioDevice& device, int attempt) {
    outputDevices_.refresh();
    for (const AudioDevice& candidate : outputDevices_.devices()) {
        if (belongsTo(candidate, device)) {
            routingTask_ = {};
            outputDevices_.setDefault(candidate);
            return;
        }
    }
    if (attempt + 1 >= kRoutingTries) {
        routingTask_ = {};
        return;
    }
    routingTask_ = mainQueue_.postAfter(kRoutingIntervalSeconds,
                                        guard_.wrap([this, device, attempt] { routeTo(device, attempt + 1); }));
}

void BluetoothRouting::refreshNowAndLater() {
    monitor_->refresh();
    refreshTask_.cancel();
    refreshTask_ = mainQueue_.postAfter(kRefreshAgainSeconds, guard_.wrap([this] { monitor_->refresh(); }));
}

std::optional<BluetoothAudioDevice> BluetoothRouting::pairedDevice(const AudioDevice& device) const {
    for (const BluetoothAudioDevice& paired : monitor_->paired()) {
        if (belongsTo(device, paired)) return paired;
    }
    return std::nullopt;
}

} // namespace orevant
