#include "app/latency_probe.h"

#include "engine/mixer_engine.h"
#include "platform/sim/sim_audio_engine.h"
#include "remote/osc_listener.h"

#include <chrono>
#include <ctime>

namespace orevant {

LatencyProbe::LatencyProbe(SimAudioEngine& audio, const std::string& path) : audio_(audio) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_) thread_ = std::thread([this] { run(); });
}

LatencyProbe::~LatencyProbe() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (file_) std::fclose(file_);
}

void LatencyProbe::install(MixerEngine& engine) {
    if (!file_) return;
    OSCListener& listener = engine.oscListener();
    auto handler = listener.onAppVolumeReceived;
    listener.onAppVolumeReceived = [this, handler](const std::string& id, float value) {
        if (handler) handler(id, value);
        note(id, value);
    };
}

void LatencyProbe::note(const std::string& target, float value) {
    // The engine has stored the new target. Reading the cycle count waits for a cycle in
    // progress, so every cycle after this count starts with the new target in place.
    const uint64_t cycle = audio_.cycleCount();
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({cycle, target, value});
    }
    wake_.notify_all();
}

void LatencyProbe::run() {
    for (;;) {
        Pending next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
            if (stop_) return;
            next = pending_.front();
            pending_.pop_front();
        }
        // The simulated server offers no per-cycle notification; a cycle lasts about 10 ms, so
        // polling at 50 µs resolves its end well enough for a benchmark.
        while (audio_.cycleCount() <= next.cycle) {
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long nanos = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
        std::fprintf(file_, "%lld %s %.6f\n", nanos, next.target.c_str(), static_cast<double>(next.value));
        std::fflush(file_);
    }
}

} // namespace orevant
