#pragma once
// Paired Bluetooth audio devices, their connection state, connect and disconnect.
// Main queue only; the platform's Bluetooth work runs in the background and its results are
// handed back to the main queue. A change the platform reports (a headset switched on, paired
// or renamed elsewhere) leads to a refresh.
#include "audio/bluetooth_audio_device.h"
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orevant {

class Bluetooth;
class MainQueue;

class BluetoothAudioMonitor {
public:
    BluetoothAudioMonitor(Bluetooth& bluetooth, MainQueue& mainQueue);
    ~BluetoothAudioMonitor();
    BluetoothAudioMonitor(const BluetoothAudioMonitor&) = delete;
    BluetoothAudioMonitor& operator=(const BluetoothAudioMonitor&) = delete;

    // Rescans; only the result of the latest refresh is published.
    void refresh();
    // Ignored while the device has an operation in progress. `onConnected` runs on success.
    void connect(const BluetoothAudioDevice& device, std::function<void(const BluetoothAudioDevice&)> onConnected = {});
    void disconnect(const BluetoothAudioDevice& device);

    // Paired audio devices, sorted by name ignoring case.
    const std::vector<BluetoothAudioDevice>& paired() const { return paired_; }
    // IDs with a connect or disconnect in progress.
    const std::set<std::string>& busy() const { return busy_; }
    int refreshGeneration() const { return refreshGeneration_; }

    // The observer runs after `paired` or `busy` changed.
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) {
        return observers_.add(std::move(observer));
    }

private:
    void operate(const BluetoothAudioDevice& device, bool connecting,
                 std::function<void(const BluetoothAudioDevice&)> onConnected);

    Bluetooth& bluetooth_;
    MainQueue& mainQueue_;
    std::vector<BluetoothAudioDevice> paired_;
    std::set<std::string> busy_;
    int refreshGeneration_ = 0;
    ObserverList observers_;
    LifetimeGuard guard_;
};

} // namespace orevant
