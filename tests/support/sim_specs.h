#pragma once
// Simulated devices, sources and processes for tests, built field by field.
#include "platform/sim/sim_audio_system.h"

#include <string>

namespace orevant::test {

// Specs without designated initialisers (which -Wextra reports as missing fields).
inline SimDeviceSpec deviceSpec(std::string uid, uint32_t outputChannels = 2, double rate = 48000.0,
                                uint32_t inputChannels = 0, uint32_t transportType = transport::builtIn,
                                std::string name = {}) {
    SimDeviceSpec s;
    s.name = name.empty() ? uid + " device" : std::move(name);
    s.uid = std::move(uid);
    s.outputChannels = outputChannels;
    s.sampleRate = rate;
    s.inputChannels = inputChannels;
    s.transport = transportType;
    return s;
}
inline SimAudioSource sourceSpec(SimAudioSource::Kind kind, float amplitude = 0.5f, double frequency = 1000.0,
                                 int channels = 2, std::string path = {}) {
    SimAudioSource s;
    s.kind = kind;
    s.amplitude = amplitude;
    s.frequency = frequency;
    s.channels = channels;
    s.path = std::move(path);
    return s;
}
inline SimProcessSpec processSpec(int32_t pid, bool playing, SimAudioSource source = {}) {
    SimProcessSpec s;
    s.pid = pid;
    s.playing = playing;
    s.source = std::move(source);
    return s;
}

} // namespace orevant::test
