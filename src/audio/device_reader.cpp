#include "audio/device_reader.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "platform/main_queue.h"

namespace orevant {

AudioObjectID DeviceReader::defaultDevice(AudioDirection direction) const {
    return HAL(server_).read<AudioObjectID>(kAudioObjectSystemObject, defaultDeviceSelector(direction));
}

std::string DeviceReader::uid(AudioObjectID device) const { return HAL(server_).readString(device, sel::deviceUID); }

double DeviceReader::nominalRate(AudioObjectID device) const {
    return HAL(server_).read<double>(device, sel::nominalSampleRate);
}

bool DeviceReader::isRunningSomewhere(AudioObjectID device) const {
    return HAL(server_).read<uint32_t>(device, sel::deviceIsRunningSomewhere) != 0;
}

PropertyWatch DeviceReader::watchDefaultDevice(AudioDirection direction, MainQueue& mainQueue,
                                               std::function<void()> onChange) const {
    return watch(kAudioObjectSystemObject, defaultDeviceSelector(direction), mainQueue, std::move(onChange));
}

PropertyWatch DeviceReader::watchRunningSomewhere(AudioObjectID device, MainQueue& mainQueue,
                                                  std::function<void()> onChange) const {
    return watch(device, sel::deviceIsRunningSomewhere, mainQueue, std::move(onChange));
}

PropertyWatch DeviceReader::watch(AudioObjectID object, uint32_t selector, MainQueue& mainQueue,
                                  std::function<void()> onChange) const {
    // The server calls listeners on the main queue already; the callback still runs as a task of
    // its own, so that whatever the server's other listeners posted for this change runs first.
    return std::make_unique<HALListener>(
        server_, object, PropertyAddress{selector, scope::global, 0},
        [&mainQueue, onChange = std::move(onChange)](uint32_t, const PropertyAddress*) { mainQueue.post(onChange); });
}

} // namespace orevant
