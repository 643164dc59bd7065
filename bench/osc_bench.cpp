// Datagrams per second through the receive thread's path for a valid volume message: decode,
// PIN gate, value limit. Also the encoder of the meter and state documents.
#include "platform/host_clock.h"
#include "remote/osc_codec.h"
#include "remote/pin_gate.h"

#include <benchmark/benchmark.h>

#include <string>

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

} // namespace

BENCHMARK_MAIN();
