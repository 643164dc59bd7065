// One 512-frame render cycle of a tap, beside a memcpy of the same output bytes:
// steady gain (stereo to stereo), ramping gain (stereo to stereo) and paired buses on an
// 8-channel output. Prints each case's time as a multiple of its memcpy.
#include "capture/process_tap.h"
#include "capture/render_mix.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace orevant {
namespace {

constexpr size_t kFrames = 512;

struct Rig {
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    AudioObjectID process = 0;
    std::vector<float> tapData = std::vector<float>(2 * kFrames);
    AudioBuffer tapBuffer{2, 2 * kFrames * 4, nullptr};
    AudioBufferList input{1, &tapBuffer};

    Rig() {
        SimDeviceSpec stereo, eight;
        stereo.uid = "stereo";
        eight.uid = "eight";
        eight.outputChannels = 8;
        system.addDevice(stereo);
        system.addDevice(eight);
        SimProcessSpec player;
        player.pid = 1;
        player.playing = true;
        process = system.addProcess(player);
        for (size_t i = 0; i < tapData.size(); ++i) tapData[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
        tapBuffer.data = tapData.data();
    }

    std::unique_ptr<ProcessTap> tap(const std::string& uid, std::optional<ProcessTap::ChannelPairing> pairing) {
        auto t = std::make_unique<ProcessTap>(server, std::vector<AudioObjectID>{process}, 0.7f, false, 0.5f);
        t->start({{uid, system.deviceWithUID(uid)}}, pairing);
        return t;
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

struct Output {
    explicit Output(uint32_t channels)
        : data(channels * kFrames), buffer{channels, channels * uint32_t(kFrames) * 4, nullptr} {
        buffer.data = data.data();
    }
    std::vector<float> data;
    AudioBuffer buffer;
    AudioBufferList list() { return {1, &buffer}; }
};

void warm(ProcessTap& tap, Output& out) {
    // Past the diagnostic cycles of the general path.
    for (int i = 0; i < 2600; ++i) {
        AudioBufferList l = out.list();
        tap.render(rig().input, l);
    }
}

void BM_SteadyStereo(benchmark::State& state) {
    auto tap = rig().tap("stereo", std::nullopt);
    Output out(2);
    warm(*tap, out);
    AudioBufferList l = out.list();
    for (auto _ : state) {
        tap->render(rig().input, l);
        benchmark::DoNotOptimize(out.data.data());
    }
}

void BM_RampingStereo(benchmark::State& state) {
    auto tap = rig().tap("stereo", std::nullopt);
    Output out(2);
    warm(*tap, out);
    AudioBufferList l = out.list();
    bool up = false;
    for (auto _ : state) {
        tap->setVolume(up ? 1.0f : 0.2f); // the target moves every cycle, so the gain never settles
        up = !up;
        tap->render(rig().input, l);
        benchmark::DoNotOptimize(out.data.data());
    }
}

void BM_PairedEight(benchmark::State& state) {
    auto tap = rig().tap("eight", ProcessTap::ChannelPairing{0, 2, 2});
    tap->setPhonesMode(PhonesMode::cue);
    Output out(8);
    warm(*tap, out);
    AudioBufferList l = out.list();
    for (auto _ : state) {
        tap->render(rig().input, l);
        benchmark::DoNotOptimize(out.data.data());
    }
}

void BM_MemcpyStereo(benchmark::State& state) {
    Output out(2);
    for (auto _ : state) {
        std::memcpy(out.data.data(), rig().tapData.data(), out.data.size() * 4);
        benchmark::DoNotOptimize(out.data.data());
        benchmark::ClobberMemory();
    }
}

void BM_MemcpyEight(benchmark::State& state) {
    Output out(8);
    std::vector<float> src(8 * kFrames, 0.25f);
    for (auto _ : state) {
        std::memcpy(out.data.data(), src.data(), out.data.size() * 4);
        benchmark::DoNotOptimize(out.data.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_SteadyStereo);
BENCHMARK(BM_MemcpyStereo);
BENCHMARK(BM_RampingStereo);
BENCHMARK(BM_PairedEight);
BENCHMARK(BM_MemcpyEight);

// Keeps each benchmark's CPU time per iteration (steadier than wall time on a shared machine) so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) nanos[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nanos;
};

} // namespace
} // namespace orevant

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    orevant::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.nanos;
    auto ratio = [&](const char* name, const char* base) {
        if (t.count(name) && t.count(base) && t[base] > 0)
            std::printf("%-18s %8.1f ns = %5.1f x memcpy (%s %.1f ns)\n", name, t[name], t[name] / t[base], base,
                        t[base]);
    };
    std::printf("\n512-frame cycle, ratio to memcpy of the same output bytes\n");
    ratio("BM_SteadyStereo", "BM_MemcpyStereo");
    ratio("BM_RampingStereo", "BM_MemcpyStereo");
    ratio("BM_PairedEight", "BM_MemcpyEight");
    benchmark::Shutdown();
    return 0;
}
