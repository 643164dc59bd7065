#pragma once
// The engine's Bluetooth side: the paired devices, which listed audio device belongs to which of
// them (its UID begins with the Bluetooth address), making a device the user just connected the
// default output as soon as it shows up, and the rescans after the device list changed.
//
// Threads: main queue only.
#include "audio/bluetooth_audio_device.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <memory>
#include <optional>

namespace orevant {

class AudioDeviceMonitor;
class Bluetooth;
class BluetoothAudioMonitor;
struct AudioDevice;

class BluetoothRouting {
public:
    static constexpr double kRefreshAgainSeconds = 2.0;
    static constexpr int kRoutingTries = 16;
    static constexpr double kRoutingIntervalSeconds = 0.3;

    BluetoothRouting(Bluetooth& bluetooth, MainQueue& mainQueue, AudioDeviceMonitor& outputDevices);
    ~BluetoothRouting();
    BluetoothRouting(const BluetoothRouting&) = delete;
    BluetoothRouting& operator=(const BluetoothRouting&) = delete;

    BluetoothAudioMonitor& monitor() const { return *monitor_; }
    // Connects `device`; once connected, its audio device becomes the default output when it
    // appears within 16 tries 0.3 s apart (the first at once).
    void connect(const BluetoothAudioDevice& device);
    // Rescans now and again 2 s later (a new connection can take that long to be reported).
    void refreshNowAndLater();
    // The paired device an audio device belongs to, if any.
    std::optional<BluetoothAudioDevice> pairedDevice(const AudioDevice& device) const;

private:
    void routeTo(const BluetoothAudioDevice& device, int attempt);

    MainQueue& mainQueue_;
    AudioDeviceMonitor& outputDevices_;
    std::unique_ptr<BluetoothAudioMonitor> monitor_;
    TaskHandle routingTask_;
    TaskHandle refreshTask_;
    LifetimeGuard guard_;
};

} // namespace orevant
