#pragma once
// A scenario for the simulated platform: running applications, devices, processes and what they
// play, paired Bluetooth devices, and timed events. Loaded from a JSON document (the running
// agent's --scenario FILE; tests build documents in code) and applied to the simulated
// services. Unknown keys are ignored, so other sections (e.g. "midi") can live in the same file.
//
// Main queue: apply() and the events it schedules run there.
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_workspace.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orevant {

// A scenario document that cannot be used; the text says where and why.
class SimScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SimScenarioDevice {
    SimDeviceSpec spec;
    std::optional<std::string> outputFile; // WAV file receiving the device's output
};

struct SimScenarioProcess {
    SimProcessSpec spec;
};

struct SimScenarioBluetooth {
    SimBluetoothDevice device;
    // The audio device that appears while the Bluetooth device is connected.
    std::optional<SimScenarioDevice> audioDevice;
};

struct SimScenarioEvent {
    enum class Kind {
        plug,
        unplug,
        spawn,
        exit,
        play,
        stop,
        record,
        stopRecording,
        defaultOutput,
        defaultInput,
        bluetoothConnect,
        bluetoothDisconnect,
        volume,
        mute,
    };
    double at = 0.0;
    Kind kind = Kind::plug;
    std::optional<SimScenarioDevice> device;   // plug
    std::optional<SimScenarioProcess> process; // spawn
    std::string uid;                           // unplug, defaultOutput/Input, volume, mute
    std::string address;                       // bluetoothConnect / Disconnect
    int32_t pid = 0;                           // exit, play, stop, record, stopRecording
    float volume = 0.0f;                       // volume
    bool muted = false;                        // mute
    bool input = false;                        // volume, mute: the input side
};

struct SimScenario {
    // The bounds of the format (the README lists them with every key's range).
    static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;
    static constexpr size_t kMaxDevices = 64;
    static constexpr size_t kMaxProcesses = 1024;
    static constexpr size_t kMaxEvents = 10000;
    static constexpr double kMaxChannels = 64;
    static constexpr double kMinSampleRate = 8000;
    static constexpr double kMaxSampleRate = 384000;
    static constexpr double kMaxDelay = 3600;

    std::string agentBundleID = "com.brenlake.orevant";
    std::vector<SimApplication> apps;
    std::vector<SimScenarioDevice> devices;
    std::optional<std::string> defaultOutput; // UID
    std::optional<std::string> defaultInput;  // UID
    std::vector<SimScenarioProcess> processes;
    std::vector<SimScenarioBluetooth> bluetooth;
    std::vector<SimScenarioEvent> events;

    // Throws SimScenarioError for a document that cannot be used.
    static SimScenario fromJSON(const nlohmann::json& document);
    static SimScenario parse(const std::string& text);
    static SimScenario loadFile(const std::string& path);
    // The text of a scenario file: a regular file of at most 4 MB, else SimScenarioError.
    static std::string readFile(const std::string& path);

    // Builds the initial state and schedules the events on `mainQueue` at their times from now.
    // The services must outlive the scheduled events.
    void apply(SimAudioSystem& system, SimWorkspace& workspace, SimBluetooth& bluetooth, MainQueue& mainQueue) const;
};

} // namespace orevant
