#include "capture/mirror_aggregate_cleanup.h"

#include "audio/hal.h"
#include "audio/own_devices.h"
#include "platform/logger.h"

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("MirrorAggregateCleanup");
    return logger;
}
} // namespace

std::vector<AudioObjectID> MirrorAggregateCleanup::subDevices(AudioObjectID aggregate) const {
    const HAL hal(server_);
    std::vector<std::string> uids;
    std::vector<AudioObjectID> devices;
    try {
        uids = hal.readStringList(aggregate, sel::aggregateFullSubDeviceList);
        devices = hal.readIDs(kAudioObjectSystemObject, sel::deviceList);
    } catch (const HALError&) {
        return {};
    }
    std::vector<std::pair<AudioObjectID, std::string>> known;
    for (AudioObjectID d : devices) {
        try {
            known.emplace_back(d, hal.readString(d, sel::deviceUID));
        } catch (const HALError&) {}
    }
    std::vector<AudioObjectID> result;
    for (const std::string& uid : uids) {
        for (const auto& [id, deviceUID] : known) {
            if (deviceUID == uid) {
                result.push_back(id);
                break;
            }
        }
    }
    return result;
}

void MirrorAggregateCleanup::run() {
    const HAL hal(server_);
    std::vector<AudioObjectID> devices;
    try {
        devices = hal.readIDs(kAudioObjectSystemObject, sel::deviceList);
    } catch (const HALError&) {
        return;
    }
    for (AudioObjectID device : devices) {
        std::string uid;
        try {
            uid = hal.readString(device, sel::deviceUID);
        } catch (const HALError&) {
            continue;
        }
        if (!isMirrorAggregateUID(uid)) continue;
        AudioObjectID defaultOutput = 0;
        try {
            defaultOutput = hal.read<uint32_t>(kAudioObjectSystemObject, sel::defaultOutputDevice);
        } catch (const HALError&) {}
        if (defaultOutput == device) {
            const auto subs = subDevices(device);
            if (!subs.empty()) {
                try {
                    hal.write(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global,
                              static_cast<uint32_t>(subs.front()));
                } catch (const HALError&) {
                    // The server picks a new default itself once the aggregate is gone.
                }
            }
        }
        if (OSStatus status = server_.destroyAggregateDevice(device)) {
            // Not claimed as destroyed: it is still there and the next start tries again.
            log().error(strprintf("Failed to destroy leftover mirror aggregate %s: OSStatus %d", uid.c_str(), status));
            continue;
        }
        log().info(strprintf("Destroyed leftover mirror aggregate %s", uid.c_str()));
    }
}

} // namespace orevant
