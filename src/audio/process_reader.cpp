#include "audio/process_reader.h"

#include "audio/hal.h"
#include "audio/hal_error.h"

namespace orevant {

std::optional<std::string> declaredApplicationID(AudioServer& server, int32_t pid) {
    const HAL hal(server);
    try {
        for (AudioObjectID id : hal.readIDs(kAudioObjectSystemObject, sel::processObjectList)) {
            try {
                if (hal.read<int32_t>(id, sel::processPID) != pid) continue;
                std::string bundle = hal.readString(id, sel::processBundleID);
                if (!bundle.empty()) return bundle;
            } catch (const HALError&) {
                // A process that went away while listed: look at the next one.
            }
        }
    } catch (const HALError&) {}
    return std::nullopt;
}

} // namespace orevant
