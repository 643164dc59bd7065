// Feeds arbitrary datagrams through what the OSC receive thread does with one: decode, the PIN
// gate (on a clock that moves with the input, so lockouts start and end), the value limit and
// the address table with every callback set.
#include "platform/host_clock.h"
#include "remote/osc_callbacks.h"
#include "remote/osc_codec.h"
#include "remote/pin_gate.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace orevant;

class SteppedClock final : public HostClock {
public:
    uint64_t ticks() const override { return ticks_; }
    double secondsPerTick() const override { return 1e-3; }
    void step(uint64_t milliseconds) { ticks_ += milliseconds; }

private:
    uint64_t ticks_ = 0;
};

void check(bool condition) {
    if (!condition) std::abort();
}

struct Harness {
    SteppedClock clock;
    PINGate gate{clock};
    OSCCallbacks callbacks;

    Harness() {
        gate.setPIN("123456");
        auto unit = [](float v) { check(v >= 0.0f && v <= 1.0f); };
        callbacks.onOREVANTValueReceived = [unit](int, float v) { unit(v); };
        callbacks.onAppVolumeReceived = [unit](const std::string&, float v) { unit(v); };
        callbacks.onCueReceived = [](const std::string&, bool) {};
        callbacks.onCueVolumeReceived = [unit](const std::string&, float v) { unit(v); };
        callbacks.onSlotReceived = [](int, const std::string&) {};
        callbacks.onPanicReceived = [](bool) {};
        callbacks.onRecordReceived = [](bool) {};
        callbacks.onAutoRecReceived = [](bool) {};
        callbacks.onSnapshotReceived = [](int) {};
        callbacks.onSnapshotSaveReceived = [] {};
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    harness.clock.step(size > 0 ? data[0] * 10u : 1u);

    auto message = OSCCodec::decode(data, size);
    if (!message) return 0;
    check(!message->address.empty() && message->address.front() == '/');
    check(OSCCodec::isValidUTF8(message->address));

    auto address = harness.gate.admit(message->address);
    if (!address) return 0;
    check(!address->empty() && address->front() == '/');
    const float value = OSCCodec::clampValue(message->value);
    check(!std::isnan(value) && value >= 0.0f && value <= 1.0f);
    harness.callbacks.dispatch(*address, value);
    return 0;
}
