#pragma once
// The platform services and process-wide objects the agent is built on. The composition root
// (the headless agent, or a test) fills one Services once and hands it down: the application
// shell keeps it and builds the engine over it. Everything referenced must outlive whoever holds
// the struct. Plain references; filled and read on the main queue.
#include "remote/osc_ports.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace orevant {

class AudioServer;
class Bluetooth;
class DefaultsStore;
class HostClock;
class MainQueue;
class MIDISystem;
class MixRecorder;
class ServiceAdvertiser;
class Workspace;

struct Services {
    MainQueue& mainQueue;
    AudioServer& audioServer;
    DefaultsStore& defaults;
    Workspace& workspace;
    Bluetooth& bluetooth;
    const HostClock& hostClock;
    // MIDI input; none: the engine runs without a MIDI manager.
    MIDISystem* midiSystem = nullptr;
    // DNS-SD advertisement of the OSC listener; none: nothing is advertised.
    ServiceAdvertiser* advertiser = nullptr;
    // UDP port of the OSC listener; 0 takes any free port (tests).
    uint16_t oscPort = kCompanionCommandPort;
    // Port on the phone's host that "/app/list" and "/meters" go to.
    uint16_t companionReplyPort = kCompanionReplyPort;
    // TCP port of the web companion; none: no web companion, 0: any free port (tests).
    std::optional<uint16_t> webPort = std::nullopt;
    // UDP port of TotalMix's OSC input on this computer (tests: a loopback peer).
    uint16_t totalMixPort = kTotalMixPort;
    // The process-wide recorder; none: taps are made without recording lanes.
    MixRecorder* recorder = nullptr;
    // The engine's one blocking wait (shutdown lets gain ramps reach unity). None: the calling
    // thread sleeps. Tests run audio cycles for the time asked instead.
    std::function<void(double seconds)> blockingWait = {};
};

} // namespace orevant
