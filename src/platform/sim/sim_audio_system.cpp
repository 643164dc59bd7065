#include "platform/sim/sim_audio_system.h"

#include "platform/sim/sim_audio_engine.h"

namespace orevant {

SimAudioSystem::SimAudioSystem(SimAudioServer& server) : server_(server) {
    const AudioObjectID sys = kAudioObjectSystemObject;
    if (!server_.hasProperty(sys, sel::deviceList, scope::global))
        server_.setIDs(sys, sel::deviceList, scope::global, {}, false);
    if (!server_.hasProperty(sys, sel::processObjectList, scope::global))
        server_.setIDs(sys, sel::processObjectList, scope::global, {}, false);
    for (uint32_t s : {sel::defaultOutputDevice, sel::defaultInputDevice}) {
        if (!server_.hasProperty(sys, s, scope::global)) {
            server_.setValue<uint32_t>(sys, s, scope::global, 0, false);
            server_.setSettable(sys, s, scope::global, true);
        }
    }
}

AudioObjectID SimAudioSystem::addDevice(const SimDeviceSpec& spec) {
    const AudioObjectID id = server_.createObject(simclass::device);
    server_.setString(id, sel::deviceUID, scope::global, spec.uid, false);
    server_.setString(id, sel::name, scope::global, spec.name, false);
    server_.setValue<uint32_t>(id, sel::transportType, scope::global, spec.transport, false);
    server_.setValue<uint32_t>(id, sel::deviceIsAlive, scope::global, 1, false);
    server_.setValue<uint32_t>(id, sel::deviceIsRunningSomewhere, scope::global, 0, false);
    server_.setValue<double>(id, sel::nominalSampleRate, scope::global, spec.sampleRate, false);
    server_.setBytes(id, sel::streamConfiguration, scope::output, singleStreamConfigurationBytes(spec.outputChannels),
                     false);
    server_.setBytes(id, sel::streamConfiguration, scope::input, singleStreamConfigurationBytes(spec.inputChannels),
                     false);
    if (spec.outputChannels > 0)
        server_.setValue(id, sel::streamFormat, scope::output, floatStreamFormat(spec.sampleRate, spec.outputChannels),
                         false);
    if (spec.inputChannels > 0)
        server_.setValue(id, sel::streamFormat, scope::input, floatStreamFormat(spec.sampleRate, spec.inputChannels),
                         false);
    if (spec.outputDataSource)
        server_.setValue<uint32_t>(id, sel::dataSource, scope::output, *spec.outputDataSource, false);
    if (spec.inputDataSource)
        server_.setValue<uint32_t>(id, sel::dataSource, scope::input, *spec.inputDataSource, false);
    if (spec.hasVolume) {
        struct Dir {
            uint32_t scope;
            uint32_t channels;
            float volume;
            bool muted;
        };
        for (const Dir& d : {Dir{scope::output, spec.outputChannels, spec.outputVolume, spec.outputMuted},
                             Dir{scope::input, spec.inputChannels, spec.inputVolume, spec.inputMuted}}) {
            if (d.channels == 0) continue;
            server_.setValue<float>(id, sel::virtualMainVolume, d.scope, d.volume, false);
            server_.setSettable(id, sel::virtualMainVolume, d.scope, spec.volumeSettable);
            server_.setValue<uint32_t>(id, sel::mute, d.scope, d.muted ? 1u : 0u, false);
            server_.setSettable(id, sel::mute, d.scope, spec.muteSettable);
        }
    }
    server_.appendID(kAudioObjectSystemObject, sel::deviceList, scope::global, id);
    return id;
}

void SimAudioSystem::removeDevice(AudioObjectID device) {
    const bool hadOutput = defaultOutput() == device;
    const bool hadInput = defaultInput() == device;
    server_.removeID(kAudioObjectSystemObject, sel::deviceList, scope::global, device);
    server_.destroyObject(device);
    auto firstWith = [&](uint32_t scope) -> AudioObjectID {
        for (AudioObjectID d : server_.ids(kAudioObjectSystemObject, sel::deviceList, scope::global)) {
            if (server_.objectClass(d) != simclass::device) continue;
            auto cfg = server_.bytes(d, sel::streamConfiguration, scope);
            if (cfg && cfg->size() >= 8) return d;
        }
        return 0;
    };
    if (hadOutput) setDefaultOutput(firstWith(scope::output));
    if (hadInput) setDefaultInput(firstWith(scope::input));
}

void SimAudioSystem::setDefaultOutput(AudioObjectID device) {
    server_.setValue<uint32_t>(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global, device);
}

void SimAudioSystem::setDefaultInput(AudioObjectID device) {
    server_.setValue<uint32_t>(kAudioObjectSystemObject, sel::defaultInputDevice, scope::global, device);
}

AudioObjectID SimAudioSystem::defaultOutput() const {
    return server_.value<uint32_t>(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global).value_or(0);
}

AudioObjectID SimAudioSystem::defaultInput() const {
    return server_.value<uint32_t>(kAudioObjectSystemObject, sel::defaultInputDevice, scope::global).value_or(0);
}

AudioObjectID SimAudioSystem::deviceWithUID(const std::string& uid) const {
    for (AudioObjectID d : server_.ids(kAudioObjectSystemObject, sel::deviceList, scope::global))
        if (server_.string(d, sel::deviceUID, scope::global) == uid) return d;
    return 0;
}

AudioObjectID SimAudioSystem::addProcess(const SimProcessSpec& spec) {
    const AudioObjectID id = server_.createObject(simclass::process);
    server_.setValue<int32_t>(id, sel::processPID, scope::global, spec.pid, false);
    server_.setValue<uint32_t>(id, sel::processIsRunningOutput, scope::global, spec.playing ? 1u : 0u, false);
    server_.setValue<uint32_t>(id, sel::processIsRunningInput, scope::global, spec.recording ? 1u : 0u, false);
    if (!spec.bundleID.empty()) server_.setString(id, sel::processBundleID, scope::global, spec.bundleID, false);
    server_.audio().setProcessSource(id, spec.source);
    server_.appendID(kAudioObjectSystemObject, sel::processObjectList, scope::global, id);
    return id;
}

void SimAudioSystem::removeProcess(AudioObjectID process) {
    server_.removeID(kAudioObjectSystemObject, sel::processObjectList, scope::global, process);
    server_.destroyObject(process);
}

void SimAudioSystem::setPlaying(AudioObjectID process, bool playing) {
    server_.setValue<uint32_t>(process, sel::processIsRunningOutput, scope::global, playing ? 1u : 0u);
}

void SimAudioSystem::setRecording(AudioObjectID process, bool recording) {
    server_.setValue<uint32_t>(process, sel::processIsRunningInput, scope::global, recording ? 1u : 0u);
}

} // namespace orevant
