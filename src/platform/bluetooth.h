#pragma once
// Paired Bluetooth devices and their connections.
//
// Threads: every call may be made from any thread and returns at once; the blocking platform
// work runs in the background and each completion runs later on a thread of the
// implementation's choosing (never inside the call itself).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

using IOReturn = int32_t;
inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xE00002BCu);
// An operation that did not finish within its time-out.
inline constexpr IOReturn kIOReturnTimeout = static_cast<IOReturn>(0xE00002D6u);

// Major class of device of audio and video equipment.
inline constexpr uint32_t kBluetoothDeviceClassMajorAudio = 4;

struct BluetoothPairedDevice {
    std::string address; // as the platform formats it; empty when the device has none
    std::optional<std::string> name;
    uint32_t majorClass = 0;
    uint32_t minorClass = 0;
    bool isConnected = false;
    bool operator==(const BluetoothPairedDevice&) const = default;
};

class Bluetooth {
public:
    using PairedCompletion = std::function<void(std::vector<BluetoothPairedDevice>)>;
    using StatusCompletion = std::function<void(IOReturn)>;

    virtual ~Bluetooth() = default;

    // Lists the paired devices.
    virtual void pairedDevices(PairedCompletion completion) = 0;
    // Opens / closes the baseband connection of the device with that address; a device that is
    // not (or no longer) paired completes with kIOReturnError.
    virtual void openConnection(const std::string& address, StatusCompletion completion) = 0;
    virtual void closeConnection(const std::string& address, StatusCompletion completion) = 0;
    // `onChange` runs (on a thread of the implementation's choosing) whenever a paired device
    // appears, goes away or changes, connection state included, for whatever reason. Replaces
    // the previous callback; an empty one stops the notifications. Platforms that cannot tell
    // never call it.
    virtual void setOnChange(std::function<void()> onChange) { (void)onChange; }
};

} // namespace orevant
