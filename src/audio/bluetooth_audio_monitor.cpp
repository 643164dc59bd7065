#include "audio/bluetooth_audio_monitor.h"

#include "audio/localized_compare.h"
#include "platform/bluetooth.h"
#include "platform/logger.h"
#include "platform/main_queue.h"

#include <algorithm>
#include <atomic>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("BluetoothAudioMonitor");
    return logger;
}

// Runs on whatever thread the platform completes on.
std::vector<BluetoothAudioDevice> audioDevices(const std::vector<BluetoothPairedDevice>& paired) {
    std::vector<BluetoothAudioDevice> list;
    for (const BluetoothPairedDevice& d : paired) {
        if (d.address.empty() || d.majorClass != kBluetoothDeviceClassMajorAudio) continue;
        const std::string name = d.name.value_or(d.address);
        log().debug(strprintf("Paired %s: minor class %u", name.c_str(), d.minorClass));
        list.push_back(BluetoothAudioDevice{d.address, name, d.isConnected, d.minorClass});
    }
    std::stable_sort(list.begin(), list.end(), [](const BluetoothAudioDevice& a, const BluetoothAudioDevice& b) {
        return localizedCaseInsensitiveLess(a.name, b.name);
    });
    return list;
}
} // namespace

BluetoothAudioMonitor::BluetoothAudioMonitor(Bluetooth& bluetooth, MainQueue& mainQueue)
    : bluetooth_(bluetooth), mainQueue_(mainQueue) {
    // A burst of platform changes becomes one refresh on the main queue.
    auto pending = std::make_shared<std::atomic<bool>>(false);
    auto changed = [refresh = guard_.wrap([this] { refresh(); }), pending] {
        pending->store(false);
        refresh();
    };
    // The platform reports on a thread of its own.
    bluetooth_.setOnChange([queue = &mainQueue_, changed, pending] {
        if (pending->exchange(true)) return;
        queue->post(changed);
    });
}

BluetoothAudioMonitor::~BluetoothAudioMonitor() { bluetooth_.setOnChange({}); }

void BluetoothAudioMonitor::refresh() {
    const int generation = ++refreshGeneration_;
    auto deliver = guard_.wrap([this, generation](std::vector<BluetoothAudioDevice> list) {
        if (generation != refreshGeneration_) return; // overtaken by a newer scan
        if (list == paired_) return;
        paired_ = std::move(list);
        observers_.notify();
    });
    // The scan answers on a background thread; the list is handed to the main queue.
    bluetooth_.pairedDevices([queue = &mainQueue_, deliver](std::vector<BluetoothPairedDevice> paired) {
        queue->post([deliver, list = audioDevices(paired)]() mutable { deliver(std::move(list)); });
    });
}

void BluetoothAudioMonitor::connect(const BluetoothAudioDevice& device,
                                    std::function<void(const BluetoothAudioDevice&)> onConnected) {
    operate(device, true, std::move(onConnected));
}

void BluetoothAudioMonitor::disconnect(const BluetoothAudioDevice& device) { operate(device, false, {}); }

void BluetoothAudioMonitor::operate(const BluetoothAudioDevice& device, bool connecting,
                                    std::function<void(const BluetoothAudioDevice&)> onConnected) {
    if (busy_.count(device.id)) return;
    busy_.insert(device.id);
    observers_.notify();
    auto finish = guard_.wrap([this, device, connecting, onConnected = std::move(onConnected)](IOReturn status) {
        busy_.erase(device.id);
        observers_.notify();
        refresh();
        if (status == kIOReturnSuccess) {
            if (connecting && onConnected) onConnected(device);
        } else {
            log().error(
                strprintf(connecting ? "Connect failed for %s: IOReturn %d" : "Disconnect failed for %s: IOReturn %d",
                          device.name.c_str(), status));
        }
    });
    // The completion arrives on a background thread.
    auto done = [queue = &mainQueue_, finish](IOReturn status) {
        queue->post([finish, status]() mutable { finish(status); });
    };
    if (connecting) {
        bluetooth_.openConnection(device.id, std::move(done));
    } else {
        bluetooth_.closeConnection(device.id, std::move(done));
    }
}

} // namespace orevant
