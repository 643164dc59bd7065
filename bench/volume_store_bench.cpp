// Encoding and decoding of a 200-application volume map, as the deferred save and the start-up
// load do it.
#include "persistence/volume_store.h"
#include "platform/defaults_store.h"

#include <benchmark/benchmark.h>

using namespace orevant;

namespace {
VolumeStore::VolumeMap makeMap(int count) {
    VolumeStore::VolumeMap map;
    for (int i = 0; i < count; ++i) {
        AppVolume v;
        v.volume = static_cast<float>(i % 100) / 100.0f;
        v.isMuted = i % 7 == 0;
        if (i % 3 == 0) v.outputDeviceUIDs = {"AppleUSBAudioEngine:RME:Fireface:" + std::to_string(i), "BuiltIn"};
        v.isCued = i % 5 == 0;
        v.cueVolume = 0.5f;
        map.emplace("com.example.application" + std::to_string(i), std::move(v));
    }
    return map;
}
} // namespace

static void BM_SaveAppVolumes(benchmark::State& state) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    const auto map = makeMap(static_cast<int>(state.range(0)));
    for (auto _ : state) store.save(map);
    state.counters["bytes"] = static_cast<double>(defaults.data("appVolumes")->size());
}
BENCHMARK(BM_SaveAppVolumes)->Arg(200);

static void BM_LoadAppVolumes(benchmark::State& state) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    store.save(makeMap(static_cast<int>(state.range(0))));
    size_t loaded = 0;
    for (auto _ : state) {
        auto map = store.load();
        loaded = map.size();
        benchmark::DoNotOptimize(map);
    }
    state.counters["entries"] = static_cast<double>(loaded);
}
BENCHMARK(BM_LoadAppVolumes)->Arg(200);

BENCHMARK_MAIN();
