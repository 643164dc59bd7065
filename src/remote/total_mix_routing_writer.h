#pragma once
// Writes TotalMix's default routing: the commands go one by one through the shared OSC sender
// to TotalMix's OSC input (127.0.0.1:7001), 80 ms apart, paced on the main queue's clock. One
// write at a time; a request during a write is ignored. Main queue only.
#include "remote/total_mix_osc.h"

#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"
#include "remote/osc_ports.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orevant {

class TotalMixRoutingWriter {
public:
    static constexpr const char* kDefaultHost = "127.0.0.1";
    static constexpr uint16_t kDefaultPort = kTotalMixPort;
    static constexpr double kPauseSeconds = 0.08;

    explicit TotalMixRoutingWriter(MainQueue& mainQueue, std::string host = kDefaultHost, uint16_t port = kDefaultPort);
    ~TotalMixRoutingWriter();
    TotalMixRoutingWriter(const TotalMixRoutingWriter&) = delete;
    TotalMixRoutingWriter& operator=(const TotalMixRoutingWriter&) = delete;

    // The engine's button action once it knows the output pairing: logs "Writing TotalMix
    // default routing (8 messages)" (category "MixerEngine") and starts the write. False, and
    // nothing done, while a write is running.
    bool writeDefaultRouting(int mainOffset, int phonesOffset);
    // Sends `commands` in order, each followed by the pause. False while a write is running.
    bool write(std::vector<TotalMixOSC::Command> commands);
    bool isWriting() const { return writeTask_.isValid(); }

private:
    void step(size_t index);

    MainQueue& mainQueue_;
    std::string host_;
    uint16_t port_;
    std::vector<TotalMixOSC::Command> commands_;
    TaskHandle writeTask_;
    LifetimeGuard guard_;
};

} // namespace orevant
