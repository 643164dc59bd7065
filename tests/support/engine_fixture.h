#pragma once
// A simulated world around one MixerEngine, for tests of the engine and of everything built on
// it. Everything runs on the test thread, which is the main queue's thread; nothing runs until
// the test advances the virtual clock. `defaults` is shared by every engine made here, so a
// second engine is "a restart" over the same stored state.
//
// Time: runAudio(seconds) runs audio cycles (512 frames at 48 kHz) and moves the virtual clock
// with them, so gain ramps, the watchdog and the meter clock see the audio's time. advance()
// moves only the clock (no audio: taps never render). The engine's one blocking wait (shutdown)
// runs audio for the time asked and is recorded in blockingWaits.
#include "engine/mixer_engine.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_workspace.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orevant {
class MixRecorder;
struct RecordingLaneOptions;
} // namespace orevant

namespace orevant::test {

// One simulated application with one process object.
struct SimApp {
    std::string bundleID;
    std::string name;
    int32_t pid = 0;
    AudioObjectID process = 0;
};

class EngineFixture {
public:
    static constexpr double kSampleRate = 48000.0;
    static constexpr double kCycleSeconds = SimAudioEngine::kCycleFrames / kSampleRate;

    EngineFixture();
    ~EngineFixture();
    EngineFixture(const EngineFixture&) = delete;
    EngineFixture& operator=(const EngineFixture&) = delete;

    // ---- The world ----
    // Adds an output device (48 kHz); the first output device added becomes the default.
    AudioObjectID addOutputDevice(const std::string& uid, const std::string& name, uint32_t channels = 2,
                                  uint32_t transport = transport::builtIn);
    // Adds a regular application with one process that plays a sine of `frequency` Hz at
    // `amplitude` (stereo) while `playing`.
    SimApp addApp(const std::string& bundleID, const std::string& name, double frequency = 440.0,
                  float amplitude = 0.5f, bool playing = true);
    // Adds a second process to `app`'s application (same pid owner), playing a sine; returns it.
    AudioObjectID addProcessTo(SimApp& app, double frequency = 660.0, float amplitude = 0.5f);
    void removeApp(const SimApp& app);
    void setDefaultOutput(AudioObjectID device) { audio.setDefaultOutput(device); }

    // ---- The engine ----
    // Makes an engine over this world; `customize` may change its services first (for example
    // to give it a recorder). The OSC listener takes a free loopback-reachable port.
    MixerEngine& makeEngine(const std::function<void(MixerEngine::Services&)>& customize = {});
    // Engines made from now on record takes into `folder`, their lanes writing on the main queue.
    MixRecorder& addRecorder(const std::filesystem::path& folder);
    MixRecorder& addRecorder(const std::filesystem::path& folder, const RecordingLaneOptions& options);
    // makeEngine() if there is none, then start() and settle().
    MixerEngine& startEngine();
    // Destroys the engine (shutdown() is not called).
    void dropEngine();
    // The application as the engine's process monitor lists it (fails the test when absent).
    AudioApp app(const SimApp& app) const;
    bool isListed(const SimApp& app) const;

    // ---- Time and audio ----
    // Runs due tasks and lets the process monitor's 100 ms debounce pass, with audio running.
    void settle() { runAudio(0.15); }
    // Runs audio cycles for `seconds`, advancing the virtual clock by one cycle after each.
    void runAudio(double seconds);
    // Moves the virtual clock only.
    void advance(double seconds) { queue.advance(seconds); }

    // ---- What a listener hears ----
    // RMS / peak of one output channel of a device over the last `seconds` of audio.
    float rms(AudioObjectID device, uint32_t channel, double seconds = 0.05);
    float peak(AudioObjectID device, uint32_t channel, double seconds = 0.05);

    ScopedLogCapture logs;
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem audio{server};
    SimWorkspace workspace;
    SimBluetooth bluetooth{queue};
    // Engines made from now on use this Bluetooth service instead of `bluetooth` (a real one
    // against a mock daemon).
    Bluetooth* realBluetooth = nullptr;
    InMemoryDefaultsStore defaults;
    std::unique_ptr<MixRecorder> recorder;
    std::unique_ptr<MixerEngine> engine;
    // Every blocking wait the engine asked for, in seconds.
    std::vector<double> blockingWaits;

private:
    int32_t nextPID_ = 1000;
    bool hasOutputDevice_ = false;
};

} // namespace orevant::test
