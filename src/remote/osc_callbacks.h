#pragma once
// The callbacks through which admitted companion messages reach the engine, and the address
// table that picks one. Set once by the engine after construction; invoked on the main queue
// only.
#include "remote/network_endpoint.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

struct OSCCallbacks {
    std::function<void(int index, float value)> onOREVANTValueReceived;
    std::function<void(const std::string& id, float value)> onAppVolumeReceived;
    std::function<void(const std::string& bundleID, bool on)> onCueReceived;
    std::function<void(const std::string& bundleID, float value)> onCueVolumeReceived;
    std::function<void(int slot, const std::string& target)> onSlotReceived;
    std::function<void(bool on)> onPanicReceived;
    std::function<void(bool on)> onRecordReceived;
    std::function<void(bool on)> onAutoRecReceived;
    std::function<void(int index)> onSnapshotReceived;
    std::function<void()> onSnapshotSaveReceived;
    std::function<void(const NetworkEndpoint& endpoint)> onIPhoneConnected;

    // Main queue. Calls the callback of the first matching row for `address` (the part after
    // the PIN) with `value` (already limited to 0...1): "/orevant/<n>", "/cue/<id>",
    // "/cuevolume/<id>", "/volume/<id>", "/autorec", "/record", "/panic", "/snapshot/save",
    // "/snapshot/<n>", "/slot/<n>/<target>". Unknown addresses are ignored. Returns whether a
    // row matched and its callback (when set) was called.
    bool dispatch(std::string_view address, float value) const;

    // An optional sign, then decimal digits only; nothing when that fails or is out of range.
    static std::optional<int> parseInteger(std::string_view text);
};

} // namespace orevant
