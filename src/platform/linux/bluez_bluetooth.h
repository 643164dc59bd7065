#pragma once
// Paired Bluetooth devices through BlueZ on the system bus (org.bluez, org.bluez.Device1):
// address in BlueZ's form ("AA:BB:CC:DD:EE:FF"), name, class of device split into major and
// minor class, connection state. Connect and disconnect are Device1's Connect and Disconnect,
// bounded by a time-out of our own, reported as kIOReturnTimeout. Changes of a device's
// properties and devices appearing or going away are reported through the change callback.
//
// Threads: every method from any thread; completions and the change callback run on the
// connection's bus thread (the monitor hands them to the main queue).
#include "platform/bluetooth.h"

#include <map>
#include <memory>
#include <mutex>

namespace orevant {

class DBusConnection;

// A device's properties as BlueZ reports them, before they become a paired device.
struct BlueZDeviceProperties {
    std::string address;
    std::optional<std::string> name;
    std::optional<uint32_t> deviceClass;
    bool paired = false;
    bool connected = false;

    // Null when the device is not paired or its address is not in BlueZ's form.
    std::optional<BluetoothPairedDevice> pairedDevice() const;
};

class BlueZBluetooth final : public Bluetooth {
public:
    static constexpr double kDefaultOperationTimeout = 20.0;
    // Bounds on what the bus may hand us.
    static constexpr size_t kMaxObjects = 4096;
    static constexpr size_t kMaxNameBytes = 248; // the longest Bluetooth device name

    // Null when BlueZ is not on the bus (no org.bluez owner).
    static std::unique_ptr<BlueZBluetooth> connect(std::unique_ptr<DBusConnection> connection,
                                                   double operationTimeout = kDefaultOperationTimeout);
    ~BlueZBluetooth() override;

    void pairedDevices(PairedCompletion completion) override;
    void openConnection(const std::string& address, StatusCompletion completion) override;
    void closeConnection(const std::string& address, StatusCompletion completion) override;
    void setOnChange(std::function<void()> onChange) override;

    static bool isBlueZAddress(const std::string& address);

private:
    class Bus;
    explicit BlueZBluetooth(std::shared_ptr<Bus> bus);
    void operate(const std::string& address, const char* method, StatusCompletion completion);

    std::shared_ptr<Bus> bus_;
};

} // namespace orevant
