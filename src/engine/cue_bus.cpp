#include "engine/cue_bus.h"

#include "audio/audio_device.h"
#include "audio/phones_bus_volume_controller.h"
#include "engine/channel_pairing_policy.h"
#include "persistence/defaults_keys.h"

namespace orevant {

CueBus::CueBus(DefaultsStore& defaults)
    : defaults_(defaults), phonesBus_(std::make_unique<PhonesBusVolumeController>(defaults)) {}

CueBus::~CueBus() = default;

void CueBus::load() {
    pairings_ = JSONDefaults::load<Pairings>(defaults_keys::busPairings, defaults_).value_or(Pairings{});
}

std::optional<ProcessTap::ChannelPairing> CueBus::pairing(const AudioDevice& device) const {
    if (device.outputChannels < kMinimumChannels) return std::nullopt;
    BusPairing requested;
    if (auto it = pairings_.find(device.uid); it != pairings_.end()) requested = it->second;
    auto valid = ChannelPairingPolicy::validate(requested.mainOffset, requested.phonesOffset, device.outputChannels);
    if (!valid) return std::nullopt;
    return ProcessTap::ChannelPairing{valid->first, valid->second, 2};
}

bool CueBus::choose(const std::string& uid, int mainOffset, int phonesOffset) {
    const BusPairing pairing{mainOffset, phonesOffset};
    const auto previous = pairings_.find(uid);
    const bool isNew = previous == pairings_.end() || !(previous->second == pairing);
    pairings_[uid] = pairing;
    JSONDefaults::save(pairings_, defaults_keys::busPairings, defaults_);
    return isNew;
}

} // namespace orevant
