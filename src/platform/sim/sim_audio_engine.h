#pragma once
// The simulated server's audio side: what processes play, process taps, aggregate devices, IO
// procedures and the devices' mixed output. (Taps, aggregates and IO arrive with the capture
// work; until then creation calls report an unsupported operation.)
#include "platform/audio_server.h"
#include "platform/sim/sim_audio_source.h"

namespace orevant {

class SimAudioServer;

class SimAudioEngine {
public:
    explicit SimAudioEngine(SimAudioServer& server) : server_(server) {}

    OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTap);
    OSStatus destroyProcessTap(AudioObjectID tap);
    OSStatus createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice);
    OSStatus destroyAggregateDevice(AudioObjectID device);
    OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID);
    OSStatus destroyIOProc(AudioObjectID device, IOProcID id);
    OSStatus startDevice(AudioObjectID device, IOProcID id);
    OSStatus stopDevice(AudioObjectID device, IOProcID id);

    void setProcessSource(AudioObjectID process, const SimAudioSource& source);
    void setDeviceOutputFile(AudioObjectID device, const std::string& path);

private:
    SimAudioServer& server_;
};

} // namespace orevant
