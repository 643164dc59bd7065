// The TotalMix routing button: the default MAIN/PHONES routing of the paired output device.
#include "engine/mixer_engine.h"

#include "remote/total_mix_routing_writer.h"

namespace orevant {

void MixerEngine::writeTotalMixDefaultRouting() {
    if (totalMixWriter_->isWriting()) return;
    const auto device = currentOutputDevice();
    if (!device) return;
    const auto pairing = channelPairing(*device);
    if (!pairing) return;
    totalMixWriter_->writeDefaultRouting(pairing->mainOffset, pairing->phonesOffset);
}

bool MixerEngine::isWritingTotalMixRouting() const { return totalMixWriter_->isWriting(); }

} // namespace orevant
