// MAIN and PHONES on the default output device's channel pairs, and the pre-fade cue.
#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "engine/channel_pairing_policy.h"
#include "persistence/defaults_keys.h"

namespace orevant {

std::optional<ProcessTap::ChannelPairing> MixerEngine::channelPairing(const AudioDevice& device) const {
    if (device.outputChannels < 4) return std::nullopt;
    BusPairing requested;
    if (auto it = busPairings_.find(device.uid); it != busPairings_.end()) requested = it->second;
    auto valid = ChannelPairingPolicy::validate(requested.mainOffset, requested.phonesOffset, device.outputChannels);
    if (!valid) return std::nullopt;
    return ProcessTap::ChannelPairing{valid->first, valid->second, 2};
}

bool MixerEngine::isPaired() const {
    auto device = currentOutputDevice();
    return device && channelPairing(*device).has_value();
}

VolumeControlling* MixerEngine::phonesController() const { return isPaired() ? phonesBusVolume_.get() : nullptr; }

void MixerEngine::setBusPairing(const std::string& uid, int mainOffset, int phonesOffset) {
    const BusPairing pairing{mainOffset, phonesOffset};
    const auto previous = busPairings_.find(uid);
    const bool isNew = previous == busPairings_.end() || !(previous->second == pairing);
    busPairings_[uid] = pairing;
    JSONDefaults::save(busPairings_, defaults_keys::busPairings, services_.defaults);
    changed();
    // A user who picks a new pair expects to hear it at once: the taps playing to that device
    // are rebuilt with the new offsets rather than kept until some later rebuild.
    if (isNew) {
        std::vector<std::string> stale;
        for (const auto& [bundleID, running] : taps_) {
            const auto& outputs = running->activatedOutputs();
            if (outputs.size() == 1 && outputs.front().uid == uid) stale.push_back(bundleID);
        }
        for (const std::string& bundleID : stale) stopAndRemoveTap(bundleID);
    }
    syncTaps();
}

void MixerEngine::setCue(bool cued, const std::string& bundleID) {
    if (cued && !isPaired()) return;
    log_.debug(strprintf("setCue %s for %s", cued ? "true" : "false", bundleID.c_str()));
    AppVolume setting;
    if (auto it = volumes_.find(bundleID); it != volumes_.end()) setting = it->second;
    setting.isCued = cued;
    volumes_[bundleID] = setting;
    scheduleSave();
    syncTaps();
    applyCueState();
    sendAppList();
    changed();
}

void MixerEngine::applyCueState() {
    const bool cueing = anyCued();
    for (const auto& [bundleID, running] : taps_) {
        auto it = volumes_.find(bundleID);
        running->setPhonesMode(phonesModeFor(cueing, it != volumes_.end() && it->second.isCued));
    }
    coverageDropTask_.cancel();
    coverageDropTask_ = {};
    if (!cueing) scheduleCoverageDrop();
}

void MixerEngine::phonesLevelChanged() {
    const float gain = phonesBusVolume_->gain();
    for (const auto& [bundleID, running] : taps_) running->setPhonesBusGain(gain);
    sendAppList();
}

} // namespace orevant
