#include "support/engine_fixture.h"

#include "audio/audio_process_monitor.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/recording_test_support.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace orevant::test {
namespace {
SimAudioSource sine(double frequency, float amplitude) {
    return sourceSpec(SimAudioSource::Kind::sine, amplitude, frequency);
}
} // namespace

EngineFixture::EngineFixture() = default;

EngineFixture::~EngineFixture() { dropEngine(); }

MixRecorder& EngineFixture::addRecorder(const std::filesystem::path& folder) {
    return addRecorder(folder, RecordingLaneOptions{});
}

MixRecorder& EngineFixture::addRecorder(const std::filesystem::path& folder, const RecordingLaneOptions& options) {
    defaults.set(RecordingFolder::kBookmarkKey, folder.string());
    recorder = std::make_unique<MixRecorder>(
        queue, queue.hostClock(), [this](const std::string&) { return std::make_unique<SharedQueueRef>(queue); },
        options);
    return *recorder;
}

AudioObjectID EngineFixture::addOutputDevice(const std::string& uid, const std::string& name, uint32_t channels,
                                             uint32_t transport) {
    const AudioObjectID id = audio.addDevice(deviceSpec(uid, channels, kSampleRate, 0, transport, name));
    if (!hasOutputDevice_) audio.setDefaultOutput(id);
    hasOutputDevice_ = true;
    return id;
}

SimApp EngineFixture::addApp(const std::string& bundleID, const std::string& name, double frequency, float amplitude,
                             bool playing) {
    SimApp app{bundleID, name, nextPID_++, 0};
    SimApplication entry;
    entry.application.processIdentifier = app.pid;
    entry.application.bundleIdentifier = bundleID;
    entry.application.localizedName = name;
    workspace.addApplication(entry);
    app.process = audio.addProcess(processSpec(app.pid, playing, sine(frequency, amplitude)));
    return app;
}

AudioObjectID EngineFixture::addProcessTo(SimApp& app, double frequency, float amplitude) {
    // A helper process whose responsible process is the application.
    const int32_t helper = nextPID_++;
    workspace.setResponsibleProcess(helper, app.pid);
    return audio.addProcess(processSpec(helper, true, sine(frequency, amplitude)));
}

void EngineFixture::removeApp(const SimApp& app) {
    audio.removeProcess(app.process);
    workspace.removeApplication(app.pid);
}

MixerEngine& EngineFixture::makeEngine(const std::function<void(MixerEngine::Services&)>& customize) {
    MixerEngine::Services services{
        .mainQueue = queue,
        .audioServer = server,
        .defaults = defaults,
        .workspace = workspace,
        .bluetooth = realBluetooth ? *realBluetooth : static_cast<Bluetooth&>(bluetooth),
        .hostClock = queue.hostClock(),
        .midiSystem = nullptr,
        .advertiser = nullptr,
        .oscPort = 0,
        .recorder = recorder.get(),
        .blockingWait =
            [this](double seconds) {
                blockingWaits.push_back(seconds);
                // The main thread is blocked: audio keeps running, no task runs.
                const auto cycles = static_cast<size_t>(std::ceil(seconds / kCycleSeconds));
                server.audio().runCycles(cycles);
            },
    };
    if (customize) customize(services);
    engine.reset();
    engine = std::make_unique<MixerEngine>(std::move(services));
    return *engine;
}

MixerEngine& EngineFixture::startEngine() {
    if (!engine) makeEngine();
    engine->start();
    settle();
    return *engine;
}

void EngineFixture::dropEngine() {
    engine.reset();
    queue.runUntilIdle();
}

AudioApp EngineFixture::app(const SimApp& simApp) const {
    for (const AudioApp& listed : engine->processMonitor().apps()) {
        if (listed.id == simApp.pid) return listed;
    }
    ADD_FAILURE() << simApp.bundleID << " is not listed";
    return AudioApp{simApp.pid, simApp.bundleID, simApp.name, {}, false, false};
}

bool EngineFixture::isListed(const SimApp& simApp) const {
    const auto& apps = engine->processMonitor().apps();
    return std::any_of(apps.begin(), apps.end(), [&](const AudioApp& a) { return a.id == simApp.pid; });
}

void EngineFixture::runAudio(double seconds) {
    const auto cycles = static_cast<size_t>(std::llround(seconds / kCycleSeconds));
    queue.runUntilIdle();
    for (size_t i = 0; i < cycles; ++i) {
        server.audio().runCycles(1);
        queue.advance(kCycleSeconds);
    }
}

float EngineFixture::rms(AudioObjectID device, uint32_t channel, double seconds) {
    return server.audio().outputRMS(device, channel, static_cast<size_t>(seconds * kSampleRate));
}

float EngineFixture::peak(AudioObjectID device, uint32_t channel, double seconds) {
    return server.audio().outputPeak(device, channel, static_cast<size_t>(seconds * kSampleRate));
}

} // namespace orevant::test
