#pragma once
// Scenario-defined paired Bluetooth devices. Scans and connection calls complete on the given
// queue after a chosen delay with a chosen status, as the real calls would after blocking.
// Any thread.
#include "platform/bluetooth.h"
#include "platform/main_queue.h"

#include <map>
#include <mutex>

namespace orevant {

struct SimBluetoothDevice {
    BluetoothPairedDevice device;
    IOReturn connectStatus = kIOReturnSuccess;
    IOReturn disconnectStatus = kIOReturnSuccess;
    double connectDelay = 0.0; // seconds
    double disconnectDelay = 0.0;
};

class SimBluetooth final : public Bluetooth {
public:
    // Completions run as tasks of `completionQueue` (a background queue, or the main queue in
    // tests, which the monitor tolerates).
    explicit SimBluetooth(TaskQueue& completionQueue);

    void pairedDevices(PairedCompletion completion) override;
    void openConnection(const std::string& address, StatusCompletion completion) override;
    void closeConnection(const std::string& address, StatusCompletion completion) override;

    // Adds or replaces a paired device (by address).
    void addPaired(const SimBluetoothDevice& device);
    void removePaired(const std::string& address);
    // Seconds a scan takes; the list is taken when the scan completes.
    void setScanDelay(double seconds);
    void setConnectResult(const std::string& address, IOReturn status, double delay = 0.0);
    void setDisconnectResult(const std::string& address, IOReturn status, double delay = 0.0);
    // Changes the connection state from outside (the headset switched on or off); notifies.
    void setConnected(const std::string& address, bool connected);
    bool isConnected(const std::string& address) const;

    // Called (on the completion queue, or on the caller of setConnected) whenever a device's
    // connection opens or closes: the scenario hot-plugs the matching audio device from it.
    std::function<void(const std::string& address, bool connected)> onConnectionChanged;

    size_t openCount() const;

private:
    void finish(const std::string& address, bool connecting, StatusCompletion completion);

    TaskQueue& queue_;
    mutable std::mutex mutex_;
    std::map<std::string, SimBluetoothDevice> devices_;
    double scanDelay_ = 0.0;
    size_t opens_ = 0;
};

} // namespace orevant
