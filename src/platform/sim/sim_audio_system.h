#pragma once
// Builds the simulated server's devices and processes the way the real server shows them:
// each with the properties the logic reads, listed in "dev#" / "prs#", with notifications.
// Any thread but an IO thread.
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_source.h"

#include <optional>
#include <string>

namespace orevant {

struct SimDeviceSpec {
    std::string uid;
    std::string name;
    uint32_t transport = transport::builtIn;
    uint32_t outputChannels = 2; // 0: no output streams
    uint32_t inputChannels = 0;  // 0: no input streams
    double sampleRate = 48000.0;
    std::optional<uint32_t> outputDataSource;
    std::optional<uint32_t> inputDataSource;
    float outputVolume = 1.0f;
    float inputVolume = 1.0f;
    bool outputMuted = false;
    bool inputMuted = false;
    bool volumeSettable = true;
    bool muteSettable = true;
    bool hasVolume = true; // false: no "vmvc" / "mute" properties at all
};

struct SimProcessSpec {
    int32_t pid = 0;
    bool playing = false;      // "piro"
    bool recording = false;    // "piri"
    SimAudioSource source;     // what it plays while running output
    std::string bundleID = ""; // "pbid" when not empty
};

class SimAudioSystem {
public:
    explicit SimAudioSystem(SimAudioServer& server);

    // Hot-plug: the device appears in "dev#" (notified).
    AudioObjectID addDevice(const SimDeviceSpec& spec);
    // Unplug: leaves "dev#" and disappears; a default that pointed at it moves to the first
    // remaining device of that direction (or 0), as the real server does.
    void removeDevice(AudioObjectID device);
    void setDefaultOutput(AudioObjectID device);
    void setDefaultInput(AudioObjectID device);
    AudioObjectID defaultOutput() const;
    AudioObjectID defaultInput() const;
    AudioObjectID deviceWithUID(const std::string& uid) const; // 0 when absent

    AudioObjectID addProcess(const SimProcessSpec& spec);
    void removeProcess(AudioObjectID process);
    void setPlaying(AudioObjectID process, bool playing);
    void setRecording(AudioObjectID process, bool recording);

    SimAudioServer& server() { return server_; }

private:
    SimAudioServer& server_;
};

} // namespace orevant
