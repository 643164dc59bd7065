#pragma once
// One learned MIDI mapping: the control target a controller number drives, and the source it is
// bound to. A plain value; stored as JSON {"target": ..., "sourceID": ...}.
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace orevant {

struct MIDIMapping {
    std::string target;
    std::optional<int32_t> sourceID; // absent: not bound to a source

    bool operator==(const MIDIMapping&) const = default;
};

// "sourceID" is written only when bound. Decoding throws when "target" is missing or not a
// string, or "sourceID" is present (and not null) but not a 32-bit integer.
void to_json(nlohmann::ordered_json& json, const MIDIMapping& mapping);
void from_json(const nlohmann::ordered_json& json, MIDIMapping& mapping);

} // namespace orevant
