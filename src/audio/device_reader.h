#pragma once
// Typed questions about the audio server's devices for the layers above the audio layer: the
// default device of a direction, a device's UID, nominal rate and running state, and watches on
// the default device and the running state. Callers name the fact they want, not a property
// selector. Reads throw HALError; nothing is cached: every call asks the server.
//
// Threads: reads on any thread except an IO thread. Watches are made and dropped on the main
// queue; their callbacks run there, each as a task of its own.
#include "audio/audio_direction.h"

#include <functional>
#include <memory>
#include <string>

namespace orevant {

class AudioServer;
class HALListener;
class MainQueue;

// A registration with the audio server; dropping it ends the watch.
using PropertyWatch = std::unique_ptr<HALListener>;

class DeviceReader {
public:
    explicit DeviceReader(AudioServer& server) : server_(server) {}

    // The system's default device for `direction` (0 when there is none).
    AudioObjectID defaultDevice(AudioDirection direction) const;
    std::string uid(AudioObjectID device) const;
    // Frames per second the device runs at.
    double nominalRate(AudioObjectID device) const;
    // Some client of the server is doing IO on the device.
    bool isRunningSomewhere(AudioObjectID device) const;

    // `onChange` runs on `mainQueue` after the default device of `direction` changed.
    [[nodiscard]] PropertyWatch watchDefaultDevice(AudioDirection direction, MainQueue& mainQueue,
                                                   std::function<void()> onChange) const;
    // `onChange` runs on `mainQueue` after the running state of `device` changed.
    [[nodiscard]] PropertyWatch watchRunningSomewhere(AudioObjectID device, MainQueue& mainQueue,
                                                      std::function<void()> onChange) const;

private:
    PropertyWatch watch(AudioObjectID object, uint32_t selector, MainQueue& mainQueue,
                        std::function<void()> onChange) const;

    AudioServer& server_;
};

} // namespace orevant
