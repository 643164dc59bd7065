// The defaults file: what a change costs the main queue (the write itself runs on the store's
// writer thread), what a change costs until it is on disk, and loading a hostile file of
// typed dictionaries nested 40,000 deep.
#include "platform/capture_log_sink.h"
#include "platform/file_defaults_store.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace orevant;

namespace {

struct Folder {
    Folder() {
        char name[] = "/tmp/orevant-defaults-bench-XXXXXX";
        path = ::mkdtemp(name) ? name : "/tmp";
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

// About 100 KB: a settings file with many applications and scenes.
void fill(FileDefaultsStore& store) {
    store.set("appVolumes", DefaultsValue(DefaultsData(60000, 'v')));
    store.set("snapshots", DefaultsValue(DefaultsData(40000, 's')));
    store.set("companionPairingPIN", DefaultsValue("042917"));
    store.flush();
}

} // namespace

static void BM_ChangeOnTheMainQueue(benchmark::State& state) {
    Folder folder;
    FileDefaultsStore store(folder.path / "defaults.json");
    fill(store);
    double level = 0;
    for (auto _ : state) store.set("phonesBusVolume", DefaultsValue(level += 0.001));
    store.flush();
}
BENCHMARK(BM_ChangeOnTheMainQueue)->Unit(benchmark::kMicrosecond);

static void BM_ChangeUntilOnDisk(benchmark::State& state) {
    Folder folder;
    FileDefaultsStore store(folder.path / "defaults.json");
    fill(store);
    double level = 0;
    for (auto _ : state) {
        store.set("phonesBusVolume", DefaultsValue(level += 0.001));
        store.flush();
    }
}
BENCHMARK(BM_ChangeUntilOnDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_LoadNestedFortyThousandDeep(benchmark::State& state) {
    Folder folder;
    const auto file = folder.path / "defaults.json";
    std::string open, close;
    for (int i = 0; i < 40000; ++i) {
        open += "{\"type\":\"dictionary\",\"value\":{\"k\":";
        close += "}}";
    }
    const std::string text = "{\"format\":1,\"values\":{\"deep\":" + open + "{\"type\":\"integer\",\"value\":1}" +
                             close + ",\"companionPairingPIN\":{\"type\":\"string\",\"value\":\"042917\"}}}";
    ScopedLogCapture quiet;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        state.ResumeTiming();
        FileDefaultsStore store(file);
        benchmark::DoNotOptimize(store.string("companionPairingPIN"));
    }
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadNestedFortyThousandDeep)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
