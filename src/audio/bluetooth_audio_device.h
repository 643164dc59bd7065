#pragma once
// One paired Bluetooth audio device. Plain value; any thread.
#include <cstdint>
#include <string>

namespace orevant {

struct BluetoothAudioDevice {
    std::string id;   // Bluetooth address string
    std::string name; // the device name, or the address when it has none
    bool isConnected = false;
    uint32_t minorClass = 0;

    bool operator==(const BluetoothAudioDevice&) const = default;
};

} // namespace orevant
