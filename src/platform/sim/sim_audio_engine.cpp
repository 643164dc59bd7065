#include "platform/sim/sim_audio_engine.h"

#include "platform/sim/sim_audio_server.h"

namespace orevant {

OSStatus SimAudioEngine::createProcessTap(const TapDescription&, AudioObjectID&) { return status::illegalOperation; }
OSStatus SimAudioEngine::destroyProcessTap(AudioObjectID) { return status::illegalOperation; }
OSStatus SimAudioEngine::createAggregateDevice(const AggregateDescription&, AudioObjectID&) {
    return status::illegalOperation;
}
OSStatus SimAudioEngine::destroyAggregateDevice(AudioObjectID device) {
    if (server_.objectClass(device) != simclass::aggregate) return status::badObject;
    server_.removeID(kAudioObjectSystemObject, sel::deviceList, scope::global, device);
    server_.destroyObject(device);
    return status::noErr;
}
OSStatus SimAudioEngine::createIOProc(AudioObjectID, IOProcBlock, IOProcID&) { return status::illegalOperation; }
OSStatus SimAudioEngine::destroyIOProc(AudioObjectID, IOProcID) { return status::illegalOperation; }
OSStatus SimAudioEngine::startDevice(AudioObjectID, IOProcID) { return status::illegalOperation; }
OSStatus SimAudioEngine::stopDevice(AudioObjectID, IOProcID) { return status::illegalOperation; }
void SimAudioEngine::setProcessSource(AudioObjectID, const SimAudioSource&) {}
void SimAudioEngine::setDeviceOutputFile(AudioObjectID, const std::string&) {}

} // namespace orevant
