#pragma once
// The MAIN and PHONES buses of a multichannel output device: the user's choice of channel pairs
// per device (`busPairings`, stored under "busPairings"), the pairing a device gets from it, and
// the software level of the PHONES bus. Which applications PHONES hears is each setting's cue
// flag (see tapLevelsFor).
//
// Threads: main queue only.
#include "capture/process_tap.h"
#include "engine/bus_pairing.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orevant {

class DefaultsStore;
class PhonesBusVolumeController;
struct AudioDevice;

class CueBus {
public:
    using Pairings = std::map<std::string, BusPairing>;
    // A device needs two stereo pairs to carry both buses.
    static constexpr int kMinimumChannels = 4;

    explicit CueBus(DefaultsStore& defaults);
    ~CueBus();
    CueBus(const CueBus&) = delete;
    CueBus& operator=(const CueBus&) = delete;

    // Reads the stored choices (nothing stored or unreadable: none).
    void load();
    const Pairings& pairings() const { return pairings_; }
    // MAIN and PHONES on `device`: the stored choice where the device offers it, else outputs
    // 1/2 and 3/4; nothing below four channels.
    std::optional<ProcessTap::ChannelPairing> pairing(const AudioDevice& device) const;
    // Stores the choice as given and saves it at once. True when it differs from the stored one.
    bool choose(const std::string& uid, int mainOffset, int phonesOffset);

    PhonesBusVolumeController& phonesBus() const { return *phonesBus_; }

private:
    DefaultsStore& defaults_;
    std::unique_ptr<PhonesBusVolumeController> phonesBus_;
    Pairings pairings_;
};

} // namespace orevant
