#pragma once
// Where a MIDI message came from. A plain value; any thread.
#include <cstdint>

namespace orevant {

struct MIDISource {
    int32_t id = 0;          // the source's unique ID
    bool isHardware = false; // true for a device entity's port, false for a software (virtual) source

    bool operator==(const MIDISource&) const = default;

    // The per-connection reference value: bits 0-31 the unique ID, bit 32 the hardware flag,
    // bit 33 always set (so that no packed value is 0).
    constexpr uint64_t packed() const {
        return uint64_t(uint32_t(id)) | (isHardware ? (uint64_t(1) << 32) : 0) | (uint64_t(1) << 33);
    }
    static constexpr MIDISource unpack(uint64_t value) {
        return MIDISource{int32_t(uint32_t(value & 0xFFFFFFFFu)), ((value >> 32) & 1) != 0};
    }
};

} // namespace orevant
