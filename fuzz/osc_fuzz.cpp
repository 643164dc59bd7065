// Feeds arbitrary datagrams through the whole admitted path of a running agent: the OSC
// listener's per-datagram work (decode, PIN gate on a clock that moves with the input so
// lockouts start and end, the path log line), then on the main queue the engine's companion
// callbacks acting on a started engine over the simulated audio server, the state document
// built for the phone, and a little audio. Many inputs carry the right PIN ("123456") from the
// seed corpus, so the engine side is reached, not only the decoder.
#include "engine/mixer_engine.h"
#include "engine/osc_companion_bridge.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_workspace.h"
#include "remote/osc_codec.h"
#include "remote/osc_listener.h"
#include "remote/osc_sender.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

using namespace orevant;

void check(bool condition) {
    if (!condition) std::abort();
}

// Replies are built and encoded in full, then dropped: the fuzzer sends nothing anywhere.
class DiscardingSender final : public OSCSender {
public:
    void send(const std::string& address, const std::string& string, const NetworkEndpoint&) override {
        check(!OSCCodec::encode(address, std::string_view(string)).empty());
        check(string.size() + 20 <= OSCCompanionBridge::kMaxDatagramBytes);
    }
    void send(const std::string&, float, const std::string&, uint16_t) override {}
};

struct Harness {
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem audio{server};
    SimWorkspace workspace;
    SimBluetooth bluetooth{queue};
    InMemoryDefaultsStore defaults;
    std::shared_ptr<OSCSender> sender = std::make_shared<DiscardingSender>();
    std::unique_ptr<MixerEngine> engine;

    Harness() {
        OSCSender::setShared(sender);
        defaults.set("companionPairingPIN", std::string("123456"));
        SimDeviceSpec device;
        device.uid = "interface";
        device.name = "Interface";
        device.outputChannels = 4;
        device.sampleRate = 48000.0;
        audio.setDefaultOutput(audio.addDevice(device));
        addApp(1000, "com.example.player");
        addApp(1001, "x");
        engine = std::make_unique<MixerEngine>(Services{
            .mainQueue = queue,
            .audioServer = server,
            .defaults = defaults,
            .workspace = workspace,
            .bluetooth = bluetooth,
            .hostClock = queue.hostClock(),
            .oscPort = 0,
            .blockingWait = [this](double) { server.audio().runCycles(1); },
        });
        engine->setCompanionBridge(std::make_unique<OSCCompanionBridge>(*engine, queue, 9001, sender));
        engine->start();
        engine->setBusPairing("interface", 0, 2);
        queue.advance(0.2);
    }

    void addApp(int32_t pid, const std::string& bundleID) {
        SimApplication entry;
        entry.application.processIdentifier = pid;
        entry.application.bundleIdentifier = bundleID;
        entry.application.localizedName = bundleID;
        workspace.addApplication(entry);
        SimProcessSpec spec;
        spec.pid = pid;
        spec.playing = true;
        spec.source.kind = SimAudioSource::Kind::sine;
        audio.addProcess(spec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    OSCListener& listener = harness.engine->oscListener();
    // The source port varies with the input, so the path table and the log budget see many.
    const uint16_t port = static_cast<uint16_t>(size > 1 ? 1024 + data[1] : 50000);
    listener.handleDatagram(data, size, NetworkEndpoint{"127.0.0.1", port}, 1);
    harness.queue.runUntilIdle();
    harness.server.audio().runCycles(1);
    // Moves time by 0...2.55 s: lockouts, deferred saves and the list's 50 ms window all end.
    harness.queue.advance(size > 0 ? data[0] * 0.01 : 0.001);
    check(harness.engine->snapshots().size() <= SceneBook::kMaxScenes);
    return 0;
}
