#pragma once
// One audio device as the device monitors list it. Plain value; any thread.
#include "platform/audio_types.h"

#include <string>

namespace orevant {

struct AudioDevice {
    AudioObjectID id = 0;
    std::string uid;
    std::string name;
    uint32_t transport = 0;        // "tran"; 0 when unreadable
    uint32_t outputDataSource = 0; // "ssrc" output scope; 0 when unreadable
    uint32_t inputDataSource = 0;  // "ssrc" input scope; 0 when unreadable
    int outputChannels = 0;        // channels of the output stream configuration

    bool isBluetooth() const { return transport == transport::bluetooth || transport == transport::bluetoothLE; }
    bool operator==(const AudioDevice&) const = default;
};

} // namespace orevant
