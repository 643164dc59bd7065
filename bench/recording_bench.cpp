// What recording costs: the render-side write of one 512-frame cycle, and 64 lanes draining
// to WAV files on disk, as a fraction of one core at 48 kHz.
#include "platform/manual_main_queue.h"
#include "recording/mix_recorder.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace orevant {
namespace {

constexpr double kRate = 48000.0;

// Every lane's writer queue is one stepped queue, so drains run exactly when the benchmark says.
class SharedQueue final : public TaskQueue {
public:
    explicit SharedQueue(ManualMainQueue& queue) : queue_(queue) {}
    TaskHandle post(Task task) override { return queue_.post(std::move(task)); }
    TaskHandle postAfter(double seconds, Task task) override { return queue_.postAfter(seconds, std::move(task)); }
    bool isCurrent() const override { return queue_.isCurrent(); }
    double now() const override { return queue_.now(); }

private:
    ManualMainQueue& queue_;
};

std::unique_ptr<RecordingLane> makeLane(ManualMainQueue& queue) {
    return std::make_unique<RecordingLane>("Bench", queue.hostClock(), queue, std::make_unique<SharedQueue>(queue));
}

// One IO cycle of 512 stereo frames; the counter is the share of the cycle's 10.7 ms it takes.
void BM_WritePerCycle(benchmark::State& state) {
    ManualMainQueue queue;
    auto lane = makeLane(queue);
    lane->startCapture(queue.hostClock().ticks(), kRate);
    const auto channels = static_cast<uint32_t>(state.range(0));
    std::vector<float> buffer(512 * channels);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = 0.001f * static_cast<float>(i % 997);
    int64_t cursor = 0;
    for (auto _ : state) {
        cursor += lane->write(buffer.data(), static_cast<uint32_t>(buffer.size() * 4), channels, 0, cursor);
        benchmark::DoNotOptimize(cursor);
    }
    state.counters["share_of_cycle"] = benchmark::Counter(static_cast<double>(state.iterations()) * 512.0 / kRate,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    lane->stopCapture();
}
BENCHMARK(BM_WritePerCycle)->Arg(2)->Arg(1)->Arg(8);

// 64 lanes with a take open: each iteration adds 250 ms of audio to every lane (untimed) and
// runs the drains that move it to disk (timed). core_fraction is the CPU time of the drains per
// second of recorded audio.
void BM_Drain64LanesToDisk(benchmark::State& state) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("orevant-recording-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        ManualMainQueue queue;
        MixRecorder recorder(queue, queue.hostClock(),
                             [&queue](const std::string&) { return std::make_unique<SharedQueue>(queue); });
        std::vector<std::shared_ptr<RecordingLane>> lanes;
        for (int i = 0; i < 64; ++i)
            lanes.push_back(recorder.lane("lane" + std::to_string(i), "Lane " + std::to_string(i)));
        recorder.startCapture(kRate);
        recorder.openTake(folder, "bench");
        std::vector<float> buffer(480 * 2, 0.25f);
        int64_t cursor = 0;
        for (auto _ : state) {
            state.PauseTiming();
            for (int cycle = 0; cycle < 25; ++cycle) {
                for (auto& lane : lanes) lane->write(buffer.data(), 480 * 2 * 4, 2, 0, cursor);
                cursor += 480;
            }
            state.ResumeTiming();
            queue.advance(0.25); // the 64 drains of this period
        }
        state.counters["core_fraction"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.25,
                                                             benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
        state.counters["MB_per_s_of_audio"] = 64 * 8 * kRate / 1e6;
        recorder.stopCapture();
    }
    std::filesystem::remove_all(folder);
}
// 40 periods: 10 s of audio on each of 64 lanes, about 250 MB on disk while it runs.
BENCHMARK(BM_Drain64LanesToDisk)->Iterations(40)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orevant

BENCHMARK_MAIN();
