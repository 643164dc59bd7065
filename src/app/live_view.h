#pragma once
// The headless agent's compact live view on a terminal: every application with its volume, mute,
// routing, cue and meter, the MAIN and PHONES buses, the simulated devices' output and the
// recording state. Built from the engine as a plain model, then drawn as text.
//
// Main thread only.
#include <string>
#include <vector>

namespace orevant {

class MixerEngineView;

struct LiveViewModel {
    struct App {
        std::string name;
        std::string bundleID;
        bool isPlaying = false;
        bool isTapped = false;
        float volume = 1.0f;
        bool isMuted = false;
        std::vector<std::string> outputs; // device names; empty: the default output
        bool isCued = false;
        float cueVolume = 1.0f;
        float meter = 0.0f;
    };
    struct Device {
        std::string name;
        int channels = 0;
        float peak = 0.0f; // of what the device played lately, all channels
        bool isDefault = false;
    };
    std::vector<App> apps;
    std::string mainDevice;  // empty: none
    float mainVolume = 1.0f; // the default output device's volume
    bool mainMuted = false;
    bool phonesAvailable = false;
    std::string phonesChannels; // "3/4"
    float phonesVolume = 1.0f;
    bool phonesMuted = false;
    std::vector<Device> devices;
    bool isPanicked = false;
    bool isRecording = false;
    std::string recordingFolder;
    bool phonePaired = false;
    std::string pin;
    int oscPort = 0;
    // The port is held by another program; the listener tries it again every 5 s.
    bool oscPortBusy = false;

    // Everything but the device output, which the caller adds when it can read it.
    static LiveViewModel from(const MixerEngineView& engine);
};

class LiveView {
public:
    // The view as lines of at most `width` columns.
    static std::string render(const LiveViewModel& model, int width = 100);
    // "██████░░░░" for a 0...1 level.
    static std::string bar(float level, int cells);
    // A frame for a terminal: cursor home, the view, and clear-to-end.
    static std::string terminalFrame(const std::string& view);
};

} // namespace orevant
