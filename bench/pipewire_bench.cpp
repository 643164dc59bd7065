// A tap on a real PipeWire: a private stack (scripts/pipewire-stack.sh, quantum 1024) with test
// players as applications. In one run it prints:
//   added_frames        latency the tap adds: a click measured at the application's own output
//                       and at the sink, untapped and tapped, in the same cycle (aim 0)
//   cpu_pct_per_app     CPU of PipeWire and this process per tapped application, beyond the
//                       same applications untapped, in percent of one core (aim <= 0.4)
//   build_ms / teardown_ms   main-thread time of ProcessTap::start and stop (aim <= 15)
//   start_gap_ms / stop_gap_ms   the longest silence at the sink when a tap at unity starts
//                       and stops (aims 0 and <= 25)
#include "audio/hal.h"
#include "capture/process_tap.h"
#include "platform/manual_main_queue.h"
#include "platform/pipewire/pipewire_api.h"
#include "platform/pipewire/pipewire_audio_server.h"
#include "support/pipewire_stack.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace orevant {
namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<test::Player> player(const std::string& id, bool click) {
    return std::make_unique<test::Player>(
        std::vector<std::string>{OREVANT_TONE_PLAYER, "--app-id", id, "--click", click ? "1" : "0"});
}

AudioObjectID processOf(PipeWireAudioServer& server, ManualMainQueue& queue, int32_t pid) {
    AudioObjectID found = 0;
    const HAL hal(server);
    test::pumpUntil(
        queue,
        [&] {
            for (AudioObjectID p : hal.readIDs(kAudioObjectSystemObject, sel::processObjectList)) {
                try {
                    if (hal.read<int32_t>(p, sel::processPID) == pid &&
                        hal.read<uint32_t>(p, sel::processIsRunningOutput))
                        found = p;
                } catch (const HALError&) {}
            }
            return found != 0;
        },
        5.0);
    return found;
}

ProcessTap::Output outputFor(PipeWireAudioServer& server, const std::string& uid) {
    const HAL hal(server);
    for (AudioObjectID d : hal.readIDs(kAudioObjectSystemObject, sel::deviceList))
        if (hal.readString(d, sel::deviceUID) == uid) return {uid, d};
    return {uid, 0};
}

// Two mono inputs recorded in the same cycles: A and B. (A benchmark's probe: it appends under a
// lock on the data thread, which the agent's own real-time code never does.)
class Probe {
public:
    Probe() {
        loop_ = pw_thread_loop_new("bench-probe", nullptr);
        static const pw_filter_events events = [] {
            pw_filter_events e{};
            e.version = PW_VERSION_FILTER_EVENTS;
            e.process = &Probe::process;
            return e;
        }();
        pw_thread_loop_lock(loop_);
        filter_ =
            pw_filter_new_simple(pw_thread_loop_get_loop(loop_), "orevant-bench-probe",
                                 pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_NODE_NAME, "orevant-bench-probe",
                                                   PW_KEY_NODE_AUTOCONNECT, "false", nullptr),
                                 &events, this);
        for (const char* name : {"input_A", "input_B"})
            ports_.push_back(pw_filter_add_port(
                filter_, PW_DIRECTION_INPUT, PW_FILTER_PORT_FLAG_MAP_BUFFERS, sizeof(void*),
                pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME, name, nullptr),
                nullptr, 0));
        pw_filter_connect(filter_, PW_FILTER_FLAG_RT_PROCESS, nullptr, 0);
        pw_thread_loop_unlock(loop_);
        pw_thread_loop_start(loop_);
    }
    ~Probe() {
        pw_thread_loop_stop(loop_);
        pw_filter_destroy(filter_);
        pw_thread_loop_destroy(loop_);
    }
    void clear() {
        std::lock_guard lock(mutex_);
        a_.clear();
        b_.clear();
    }
    std::pair<std::vector<float>, std::vector<float>> take() {
        std::lock_guard lock(mutex_);
        return {a_, b_};
    }

private:
    static void process(void* data, spa_io_position* position) {
        auto* self = static_cast<Probe*>(data);
        const auto n = static_cast<uint32_t>(position->clock.duration);
        const auto* a = static_cast<const float*>(pw_filter_get_dsp_buffer(self->ports_[0], n));
        const auto* b = static_cast<const float*>(pw_filter_get_dsp_buffer(self->ports_[1], n));
        std::lock_guard lock(self->mutex_);
        for (uint32_t i = 0; i < n; ++i) {
            self->a_.push_back(a ? a[i] : 0.0f);
            self->b_.push_back(b ? b[i] : 0.0f);
        }
    }

    pw_thread_loop* loop_ = nullptr;
    pw_filter* filter_ = nullptr;
    std::vector<void*> ports_;
    std::mutex mutex_;
    std::vector<float> a_, b_;
};

// Mean offset (in frames) of each click of A to the first click of B at or after it.
double clickOffset(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] < 0.25f) continue;
        for (size_t j = i; j < b.size() && j < i + 12000; ++j) {
            if (b[j] >= 0.25f) {
                sum += static_cast<double>(j - i);
                ++count;
                break;
            }
        }
    }
    return count ? sum / count : -1;
}

void link(const std::string& from, const std::string& to) { test::runCommand("pw-link '" + from + "' '" + to + "'"); }
void unlink(const std::string& from, const std::string& to) {
    test::runCommand("pw-link -d '" + from + "' '" + to + "' 2>/dev/null");
}

void BM_TapAddedLatency(benchmark::State& state) {
    ManualMainQueue queue;
    PipeWireAudioServer server(queue);
    auto app = player("org.example.Click", /*click=*/true);
    const AudioObjectID process = processOf(server, queue, app->pid());
    Probe probe;
    test::pumpFor(queue, 0.3);
    auto measure = [&](const std::string& sinkPort) {
        link("tone-player-1:output_FL", "orevant-bench-probe:input_A");
        link(sinkPort, "orevant-bench-probe:input_B");
        test::pumpFor(queue, 0.3);
        probe.clear();
        test::pumpFor(queue, 1.6);
        auto [a, b] = probe.take();
        unlink(sinkPort, "orevant-bench-probe:input_B");
        unlink("tone-player-1:output_FL", "orevant-bench-probe:input_A");
        return clickOffset(a, b);
    };
    for (auto _ : state) {
        const double direct = measure("ci_stereo:monitor_FL");
        ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
        tap.start({outputFor(server, "ci_quad")});
        const double tapped = measure("ci_quad:monitor_FL");
        tap.stop();
        state.counters["direct_frames"] = direct;
        state.counters["tapped_frames"] = tapped;
        state.counters["added_frames"] = tapped - direct;
    }
}

void BM_TapBuildTeardownAndGaps(benchmark::State& state) {
    ManualMainQueue queue;
    PipeWireAudioServer server(queue);
    // The test player asks for no latency of its own, so the graph runs at the stack's 1024 frames.
    auto app = player("org.example.Gaps", /*click=*/false);
    const AudioObjectID process = processOf(server, queue, app->pid());
    test::Capture stereo("ci_stereo", 2);
    const auto output = outputFor(server, "ci_stereo");
    auto longestQuiet = [&](size_t from) {
        const auto s = stereo.samples(0);
        int longest = 0, run = 0;
        for (size_t i = from; i + 48 <= s.size(); i += 48) {
            double sum = 0;
            for (size_t k = i; k < i + 48; ++k) sum += static_cast<double>(s[k]) * s[k];
            run = std::sqrt(sum / 48) < 0.01 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return longest;
    };
    double build = 0, teardown = 0, startGap = 0, stopGap = 0;
    int rounds = 0;
    for (auto _ : state) {
        test::pumpFor(queue, 0.3);
        ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
        size_t mark = stereo.frames();
        auto t0 = Clock::now();
        tap.start({output});
        build += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        test::pumpFor(queue, 0.4);
        startGap += longestQuiet(mark);
        mark = stereo.frames();
        t0 = Clock::now();
        tap.stop();
        teardown += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        test::pumpFor(queue, 0.4);
        stopGap += longestQuiet(mark);
        ++rounds;
    }
    state.counters["build_ms"] = build / rounds;
    state.counters["teardown_ms"] = teardown / rounds;
    state.counters["start_gap_ms"] = startGap / rounds;
    state.counters["stop_gap_ms"] = stopGap / rounds;
}

double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCPUSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_CPUPerTappedApplication(benchmark::State& state) {
    constexpr int kApps = 4;
    constexpr double kSeconds = 4.0;
    ManualMainQueue queue;
    PipeWireAudioServer server(queue);
    std::ifstream pidFile(test::stack().dir() + "/pw.pid");
    pid_t daemon = 0;
    pidFile >> daemon;
    std::vector<std::unique_ptr<test::Player>> apps;
    std::vector<AudioObjectID> processes;
    for (int i = 0; i < kApps; ++i) {
        apps.push_back(player("org.example.Load" + std::to_string(i), false));
        processes.push_back(processOf(server, queue, apps.back()->pid()));
    }
    auto load = [&] {
        const double d0 = cpuSeconds(daemon), o0 = ownCPUSeconds();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        return (cpuSeconds(daemon) - d0 + ownCPUSeconds() - o0) / wall;
    };
    for (auto _ : state) {
        const double untapped = load();
        std::vector<std::unique_ptr<ProcessTap>> taps;
        for (AudioObjectID p : processes) {
            taps.push_back(std::make_unique<ProcessTap>(server, std::vector<AudioObjectID>{p}, 0.5f, false, 1.0f));
            taps.back()->start({outputFor(server, "ci_stereo")});
        }
        test::pumpFor(queue, 0.5);
        const double tapped = load();
        taps.clear();
        state.counters["cpu_pct_per_app"] = 100.0 * (tapped - untapped) / kApps;
    }
}

BENCHMARK(BM_TapAddedLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TapBuildTeardownAndGaps)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CPUPerTappedApplication)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orevant

namespace orevant::test {
namespace {
PipeWireStack* theStack = nullptr;
}
PipeWireStack& stack() { return *theStack; }
} // namespace orevant::test

int main(int argc, char** argv) {
    orevant::test::PipeWireStack stack(1024);
    if (!stack.isUp()) {
        std::fprintf(stderr, "pipewire_bench: the private PipeWire stack did not start\n");
        return 1;
    }
    orevant::test::theStack = &stack;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
