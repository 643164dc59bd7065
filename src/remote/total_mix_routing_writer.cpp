#include "remote/total_mix_routing_writer.h"

#include "platform/logger.h"
#include "remote/osc_sender.h"

namespace orevant {

TotalMixRoutingWriter::TotalMixRoutingWriter(MainQueue& mainQueue, std::string host, uint16_t port)
    : mainQueue_(mainQueue), host_(std::move(host)), port_(port) {}

TotalMixRoutingWriter::~TotalMixRoutingWriter() { writeTask_.cancel(); }

bool TotalMixRoutingWriter::writeDefaultRouting(int mainOffset, int phonesOffset) {
    if (isWriting()) return false;
    auto commands = TotalMixOSC::defaultRouting(mainOffset, phonesOffset);
    Logger("MixerEngine")
        .info(strprintf("Writing TotalMix default routing (%ld messages)", static_cast<long>(commands.size())));
    return write(std::move(commands));
}

bool TotalMixRoutingWriter::write(std::vector<TotalMixOSC::Command> commands) {
    if (isWriting()) return false;
    commands_ = std::move(commands);
    writeTask_ = mainQueue_.post(guard_.wrap([this] { step(0); }));
    return true;
}

void TotalMixRoutingWriter::step(size_t index) {
    if (index >= commands_.size()) {
        writeTask_ = TaskHandle();
        commands_.clear();
        return;
    }
    const auto& command = commands_[index];
    OSCSender::shared()->send(command.path, command.value, host_, port_);
    writeTask_ = mainQueue_.postAfter(kPauseSeconds, guard_.wrap([this, index] { step(index + 1); }));
}

} // namespace orevant
