#include "platform/sim/sim_bluetooth.h"

namespace orevant {

SimBluetooth::SimBluetooth(TaskQueue& completionQueue) : queue_(completionQueue) {}

void SimBluetooth::pairedDevices(PairedCompletion completion) {
    double delay;
    {
        std::lock_guard lock(mutex_);
        delay = scanDelay_;
    }
    // The list is what is paired when the scan finishes.
    queue_.postAfter(delay, [this, completion = std::move(completion)] {
        std::vector<BluetoothPairedDevice> list;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [address, d] : devices_) list.push_back(d.device);
        }
        completion(std::move(list));
    });
}

void SimBluetooth::openConnection(const std::string& address, StatusCompletion completion) {
    finish(address, true, std::move(completion));
}

void SimBluetooth::closeConnection(const std::string& address, StatusCompletion completion) {
    finish(address, false, std::move(completion));
}

void SimBluetooth::finish(const std::string& address, bool connecting, StatusCompletion completion) {
    double delay = 0.0;
    {
        std::lock_guard lock(mutex_);
        if (connecting) ++opens_;
        auto it = devices_.find(address);
        if (it != devices_.end()) delay = connecting ? it->second.connectDelay : it->second.disconnectDelay;
    }
    queue_.postAfter(delay, [this, address, connecting, completion = std::move(completion)] {
        IOReturn status = kIOReturnError;
        bool changed = false;
        {
            std::lock_guard lock(mutex_);
            auto it = devices_.find(address);
            if (it != devices_.end()) {
                status = connecting ? it->second.connectStatus : it->second.disconnectStatus;
                if (status == kIOReturnSuccess && it->second.device.isConnected != connecting) {
                    it->second.device.isConnected = connecting;
                    changed = true;
                }
            }
        }
        if (changed && onConnectionChanged) onConnectionChanged(address, connecting);
        completion(status);
    });
}

void SimBluetooth::addPaired(const SimBluetoothDevice& device) {
    std::lock_guard lock(mutex_);
    devices_[device.device.address] = device;
}

void SimBluetooth::removePaired(const std::string& address) {
    std::lock_guard lock(mutex_);
    devices_.erase(address);
}

void SimBluetooth::setScanDelay(double seconds) {
    std::lock_guard lock(mutex_);
    scanDelay_ = seconds;
}

void SimBluetooth::setConnectResult(const std::string& address, IOReturn status, double delay) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(address);
    if (it == devices_.end()) return;
    it->second.connectStatus = status;
    it->second.connectDelay = delay;
}

void SimBluetooth::setDisconnectResult(const std::string& address, IOReturn status, double delay) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(address);
    if (it == devices_.end()) return;
    it->second.disconnectStatus = status;
    it->second.disconnectDelay = delay;
}

void SimBluetooth::setConnected(const std::string& address, bool connected) {
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(address);
        if (it != devices_.end() && it->second.device.isConnected != connected) {
            it->second.device.isConnected = connected;
            changed = true;
        }
    }
    if (changed && onConnectionChanged) onConnectionChanged(address, connected);
}

bool SimBluetooth::isConnected(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(address);
    return it != devices_.end() && it->second.device.isConnected;
}

size_t SimBluetooth::openCount() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

} // namespace orevant
