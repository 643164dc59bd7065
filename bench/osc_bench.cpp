// Datagrams per second through the receive thread's path for a valid volume message: decode,
// PIN gate, value limit. The encoder of the meter and state documents. And how soon a panic
// that arrives behind a flood of 3,000 admitted messages is handled by a running engine.
#include "engine/mixer_engine.h"
#include "engine/osc_companion_bridge.h"
#include "platform/file_defaults_store.h"
#include "platform/host_clock.h"
#include "platform/linux/udp_socket.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_workspace.h"
#include "remote/osc_codec.h"
#include "remote/osc_listener.h"
#include "remote/pin_gate.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace orevant;

void BM_DecodeAndGateVolumeMessage(benchmark::State& state) {
    MonotonicHostClock clock;
    PINGate gate(clock);
    gate.setPIN("482913");
    const auto datagram = OSCCodec::encode("/a/482913/volume/com.example.player", 0.5f);
    for (auto _ : state) {
        auto message = OSCCodec::decode(datagram.data(), datagram.size());
        auto address = gate.admit(message->address);
        const float value = OSCCodec::clampValue(message->value);
        benchmark::DoNotOptimize(address);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["datagrams/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeAndGateVolumeMessage);

void BM_EncodeStateDocument(benchmark::State& state) {
    std::string document = "{\"apps\":[";
    for (int i = 0; i < 20; ++i)
        document += "{\"bundleID\":\"com.example.app" + std::to_string(i) +
                    "\",\"name\":\"App\",\"volume\":0.5,\"isSystem\":false,\"isCued\":false,\"canCue\":true,"
                    "\"cueVolume\":1,\"isEmpty\":false},";
    document.back() = ']';
    document += "}";
    for (auto _ : state) {
        auto bytes = OSCCodec::encode("/app/list", std::string_view(document));
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(document.size()));
}
BENCHMARK(BM_EncodeStateDocument);

// A started engine over the simulated server with its settings in a real file, a phone that
// talks to its listener over loopback, and a real bridge answering it. The main queue is run
// here, its clock kept with the wall clock so the deferred save and the list window fire when
// they would in the agent.
struct FloodedAgent {
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("orevant-bench-" + std::to_string(getpid()));
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem audio{server};
    SimWorkspace workspace;
    SimBluetooth bluetooth{queue};
    std::unique_ptr<FileDefaultsStore> defaults;
    std::unique_ptr<MixerEngine> engine;
    UdpSocket phone;
    UdpSocket inbox;
    std::chrono::steady_clock::time_point clockSync = std::chrono::steady_clock::now();

    FloodedAgent() {
        std::filesystem::create_directories(folder);
        defaults = std::make_unique<FileDefaultsStore>(folder / "defaults.json");
        defaults->set("companionPairingPIN", std::string("123456"));
        SimDeviceSpec device;
        device.uid = "speakers";
        device.name = "Speakers";
        device.sampleRate = 48000.0;
        audio.setDefaultOutput(audio.addDevice(device));
        SimApplication app;
        app.application.processIdentifier = 1000;
        app.application.bundleIdentifier = "com.example.player";
        app.application.localizedName = "Player";
        workspace.addApplication(app);
        SimProcessSpec process;
        process.pid = 1000;
        audio.addProcess(process);
        phone.open(UdpSocket::Family::ipv4);
        phone.bind("127.0.0.1", 0);
        inbox.open(UdpSocket::Family::ipv4);
        inbox.bind("127.0.0.1", 0);
        engine = std::make_unique<MixerEngine>(Services{
            .mainQueue = queue,
            .audioServer = server,
            .defaults = *defaults,
            .workspace = workspace,
            .bluetooth = bluetooth,
            .hostClock = queue.hostClock(),
            .oscPort = 0,
            .companionReplyPort = inbox.localPort(),
            .blockingWait = [](double) {},
        });
        engine->start();
        run(0.2);
    }
    ~FloodedAgent() {
        engine.reset();
        std::filesystem::remove_all(folder);
    }

    // Runs the main queue with its clock following the wall clock, for `seconds` or until
    // `done`, and drains the phone's inbox.
    template <typename Done>
    void runUntil(Done done, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && std::chrono::steady_clock::now() < end) {
            const auto now = std::chrono::steady_clock::now();
            queue.advance(std::chrono::duration<double>(now - clockSync).count());
            clockSync = now;
            queue.runUntilIdle();
            uint8_t buffer[65536];
            UdpSocket::Datagram datagram;
            while (inbox.receive(buffer, sizeof buffer, datagram, 0) == 0) {}
        }
    }
    void run(double seconds) {
        runUntil([] { return false; }, seconds);
    }

    void send(const std::string& rest, float value) {
        const auto bytes = OSCCodec::encode("/a/123456" + rest, value);
        phone.sendTo(bytes.data(), bytes.size(), "127.0.0.1", engine->oscListener().port());
        ++sent;
    }
    size_t sent = 0;
};

// The flood arrives first (paced so the socket buffer holds it), then the panic; the figure is
// the time from sending the panic to the engine being panicked.
void BM_PanicBehindFlood(benchmark::State& state) {
    FloodedAgent agent;
    OSCListener& listener = agent.engine->oscListener();
    for (auto _ : state) {
        for (int n = 0; n < 3000; ++n) {
            switch (n % 4) {
            case 0:
                agent.send("/snapshot/save", 1.0f);
                break;
            case 1:
                agent.send("/cue/com.example.unknown" + std::to_string(n), 0.0f);
                break;
            case 2:
                agent.send("/slot/" + std::to_string(n % 8) + "/t" + std::to_string(n), 1.0f);
                break;
            default:
                agent.send("/volume/com.example.player", (n % 100) / 100.0f);
                break;
            }
            if (n % 100 == 99 && !listener.waitUntilHandled(agent.sent, 10.0)) state.SkipWithError("datagrams lost");
        }
        const auto start = std::chrono::steady_clock::now();
        agent.send("/panic", 1.0f);
        agent.runUntil([&] { return agent.engine->isPanicked(); }, 10.0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        if (!agent.engine->isPanicked()) state.SkipWithError("the panic was never handled");
        // Back to where the next flood starts: no panic, no scenes, nothing waiting to be saved.
        agent.send("/panic", 0.0f);
        agent.runUntil([&] { return !agent.engine->isPanicked(); }, 10.0);
        while (!agent.engine->snapshots().empty()) agent.engine->deleteScene(agent.engine->snapshots().front().id);
        agent.run(2.5);
    }
}
BENCHMARK(BM_PanicBehindFlood)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
