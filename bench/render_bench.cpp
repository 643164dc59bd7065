// One 512-frame render cycle of a tap, beside a memcpy of the same output bytes: steady gain
// (stereo to stereo, metered), ramping gain (stereo to stereo), paired buses on an 8-channel
// output, and a stereo tap unpaired on an 8-channel output; the steady kernel alone (what the
// bare gain multiply costs without the rest of the cycle); and how a cycle's cost grows with the
// number of taps and of output channels. Prints each case's ratio with its aim.
//
// Run a Release build. The kernel set is the one the agent would use on this CPU; run again with
// OREVANT_KERNELS=portable for the portable column. Buffers are 64-byte aligned (where malloc puts
// them moves the ratios by up to 1.5×), and every case warms up before it is measured.
#include "capture/process_tap.h"
#include "capture/render_kernels.h"
#include "capture/render_mix.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace orevant {
namespace {

constexpr size_t kFrames = 512;
constexpr double kWarmUpSeconds = 0.05;

// Interleaved float samples on a 64-byte boundary.
class Aligned {
public:
    explicit Aligned(size_t samples, float fill = 0.0f)
        : size_(samples), data_(static_cast<float*>(std::aligned_alloc(64, (samples * 4 + 63) / 64 * 64))) {
        for (size_t i = 0; i < samples; ++i) data_[i] = fill;
    }
    ~Aligned() { std::free(data_); }
    Aligned(const Aligned&) = delete;
    Aligned& operator=(const Aligned&) = delete;
    float* data() const { return data_; }
    size_t size() const { return size_; }

private:
    size_t size_;
    float* data_;
};

struct Output {
    explicit Output(uint32_t channels)
        : samples(channels * kFrames), buffer{channels, channels * uint32_t(kFrames) * 4, samples.data()} {}
    Aligned samples;
    AudioBuffer buffer;
    AudioBufferList list() { return {1, &buffer}; }
};

struct Rig {
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    AudioObjectID process = 0;
    Aligned tapData{2 * kFrames};
    AudioBuffer tapBuffer{2, 2 * kFrames * 4, tapData.data()};
    AudioBufferList input{1, &tapBuffer};

    Rig() {
        for (uint32_t channels : {2u, 8u, 32u}) {
            SimDeviceSpec spec;
            spec.uid = "out" + std::to_string(channels);
            spec.outputChannels = channels;
            system.addDevice(spec);
        }
        SimProcessSpec player;
        player.pid = 1;
        player.playing = true;
        process = system.addProcess(player);
        for (size_t i = 0; i < tapData.size(); ++i) tapData.data()[i] = static_cast<float>(i % 97) / 97.0f - 0.5f;
    }

    std::unique_ptr<ProcessTap> tap(uint32_t channels, std::optional<ProcessTap::ChannelPairing> pairing) {
        const std::string uid = "out" + std::to_string(channels);
        auto t = std::make_unique<ProcessTap>(server, std::vector<AudioObjectID>{process}, 0.7f, false, 0.5f);
        t->start({{uid, system.deviceWithUID(uid)}}, pairing);
        return t;
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

void renderLoop(benchmark::State& state, ProcessTap& tap, Output& out) {
    AudioBufferList l = out.list();
    for (auto _ : state) {
        tap.render(rig().input, l);
        benchmark::DoNotOptimize(out.samples.data());
        benchmark::ClobberMemory();
    }
}

void BM_SteadyStereo(benchmark::State& state) {
    auto tap = rig().tap(2, std::nullopt);
    Output out(2);
    renderLoop(state, *tap, out);
}

void BM_RampingStereo(benchmark::State& state) {
    auto tap = rig().tap(2, std::nullopt);
    Output out(2);
    AudioBufferList l = out.list();
    bool up = false;
    for (auto _ : state) {
        tap->setVolume(up ? 1.0f : 0.2f); // the target moves every cycle, so the gain never settles
        up = !up;
        tap->render(rig().input, l);
        benchmark::DoNotOptimize(out.samples.data());
        benchmark::ClobberMemory();
    }
}

void BM_PairedEight(benchmark::State& state) {
    auto tap = rig().tap(8, ProcessTap::ChannelPairing{0, 2, 2});
    tap->setPhonesMode(PhonesMode::cue);
    Output out(8);
    renderLoop(state, *tap, out);
}

void BM_UnpairedEight(benchmark::State& state) {
    auto tap = rig().tap(8, std::nullopt);
    Output out(8);
    renderLoop(state, *tap, out);
}

// A steady kernel on its own, without the rest of a cycle: stereo (metered or the bare gain
// multiply) or unpaired on eight channels.
void BM_KernelSteady(benchmark::State& state) {
    const RampTable table = RampTable::forCoefficient(rampCoefficient(48000.0));
    const auto channels = static_cast<uint32_t>(state.range(0));
    Output out(channels);
    BusRamp bus{0.343f, 0.343f};
    FrameJob job;
    job.source = rig().tapData.data();
    job.sourceChannels = 2;
    job.sourceSamples = 2 * kFrames;
    job.destination = out.samples.data();
    job.destinationChannels = channels;
    job.destinationSamples = channels * kFrames;
    job.main = {0, static_cast<int>(channels)};
    job.mainRamp = &bus;
    job.meter = state.range(1) != 0;
    job.ramp = &table;
    const RenderKernels& kernels = renderKernels();
    for (auto _ : state) {
        benchmark::DoNotOptimize(kernels.writeFrames(job));
        benchmark::ClobberMemory();
    }
}

void memcpyLoop(benchmark::State& state, uint32_t channels) {
    Output out(channels);
    Aligned src(channels * kFrames, 0.25f);
    for (auto _ : state) {
        std::memcpy(out.samples.data(), src.data(), out.samples.size() * 4);
        benchmark::DoNotOptimize(out.samples.data());
        benchmark::ClobberMemory();
    }
}
void BM_MemcpyStereo(benchmark::State& state) { memcpyLoop(state, 2); }
void BM_MemcpyEight(benchmark::State& state) { memcpyLoop(state, 8); }
void BM_Memcpy(benchmark::State& state) { memcpyLoop(state, static_cast<uint32_t>(state.range(0))); }

// `taps` taps at steady gain, each into an output of `channels` channels of its own: one cycle.
void BM_Scaling(benchmark::State& state) {
    const auto taps = static_cast<size_t>(state.range(0));
    const auto channels = static_cast<uint32_t>(state.range(1));
    std::vector<std::unique_ptr<ProcessTap>> running;
    std::vector<std::unique_ptr<Output>> outs;
    std::vector<AudioBufferList> lists;
    for (size_t i = 0; i < taps; ++i) {
        running.push_back(rig().tap(channels, std::nullopt));
        outs.push_back(std::make_unique<Output>(channels));
        lists.push_back(outs.back()->list());
    }
    for (auto _ : state) {
        for (size_t i = 0; i < taps; ++i) running[i]->render(rig().input, lists[i]);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_MemcpyStereo)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_SteadyStereo)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_RampingStereo)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_KernelSteady)->Args({2, 1})->Args({2, 0})->Args({8, 1})->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_MemcpyEight)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_PairedEight)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_UnpairedEight)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_Memcpy)->Arg(32)->MinWarmUpTime(kWarmUpSeconds);
BENCHMARK(BM_Scaling)->ArgsProduct({{1, 8, 32, 64}, {2, 8, 32}})->MinWarmUpTime(kWarmUpSeconds);

// Keeps each benchmark's CPU time per iteration (steadier than wall time on a shared machine) so
// the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration) nanos[shortName(r.benchmark_name())] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> nanos;

private:
    static std::string shortName(const std::string& name) {
        const size_t warm = name.find("/min_warmup_time:");
        return warm == std::string::npos ? name : name.substr(0, warm);
    }
};

} // namespace
} // namespace orevant

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const orevant::RenderKernels& kernels = orevant::renderKernels();
    const bool wide = std::strcmp(kernels.name, "avx2") == 0;
    std::printf("render kernels: %s (this CPU %s AVX2 and FMA)\n", kernels.name,
                orevant::avx2RenderKernels() ? "has" : "lacks");
    orevant::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& t = reporter.nanos;
    auto has = [&](const std::string& name) { return t.count(name) && t[name] > 0; };
    auto ratio = [&](const char* label, const std::string& name, const std::string& base, double portableAim,
                     double wideAim) {
        if (!has(name) || !has(base)) return;
        const double r = t[name] / t[base];
        const double aim = wide ? wideAim : portableAim;
        std::printf("%-34s %8.1f ns = %5.2f x %-16s aim <= %.1f x  %s\n", label, t[name], r, base.c_str(), aim,
                    r <= aim ? "met" : "NOT MET");
    };
    std::printf("\n512-frame cycle, CPU time, ratio to a memcpy of the same output bytes (%s kernels)\n", kernels.name);
    ratio("steady gain, stereo, metered", "BM_SteadyStereo", "BM_MemcpyStereo", 4.0, 2.5);
    ratio("  the kernel alone, metered", "BM_KernelSteady/2/1", "BM_MemcpyStereo", 4.0, 2.5);
    ratio("  the kernel alone, gain only", "BM_KernelSteady/2/0", "BM_MemcpyStereo", 4.0, 2.5);
    ratio("ramping gain, stereo", "BM_RampingStereo", "BM_MemcpyStereo", 8.0, 5.0);
    ratio("paired buses, 8-channel output", "BM_PairedEight", "BM_MemcpyEight", 5.0, 3.5);
    ratio("stereo tap unpaired, 8 channels", "BM_UnpairedEight", "BM_SteadyStereo", 3.0, 3.0);
    ratio("  the kernel alone, metered", "BM_KernelSteady/8/1", "BM_MemcpyEight", 3.0, 3.0);
    std::printf("\nScaling: one cycle of N taps, each into an output of C channels (steady gain)\n");
    std::printf("%6s %4s %12s %12s %14s\n", "taps", "C", "cycle ns", "ns per tap", "x memcpy of C");
    for (int taps : {1, 8, 32, 64})
        for (int channels : {2, 8, 32}) {
            const std::string name = "BM_Scaling/" + std::to_string(taps) + "/" + std::to_string(channels);
            const std::string base = channels == 2   ? "BM_MemcpyStereo"
                                     : channels == 8 ? "BM_MemcpyEight"
                                                     : "BM_Memcpy/32";
            if (!has(name) || !has(base)) continue;
            std::printf("%6d %4d %12.0f %12.1f %14.2f\n", taps, channels, t[name], t[name] / taps,
                        t[name] / taps / t[base]);
        }
    benchmark::Shutdown();
    return 0;
}
