#include "midi/midi_mapping.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <stdexcept>

namespace orevant {

void to_json(nlohmann::ordered_json& json, const MIDIMapping& mapping) {
    json = nlohmann::ordered_json::object();
    json["target"] = mapping.target;
    if (mapping.sourceID) json["sourceID"] = *mapping.sourceID;
}

void from_json(const nlohmann::ordered_json& json, MIDIMapping& mapping) {
    MIDIMapping decoded;
    decoded.target = json.at("target").get<std::string>(); // throws unless a string
    auto id = json.find("sourceID");
    if (id != json.end() && !id->is_null()) {
        if (!id->is_number_integer()) throw std::invalid_argument("sourceID is not an integer");
        // A large unsigned value would wrap when read as signed: test it as unsigned first.
        bool tooLarge = id->is_number_unsigned() ? id->get<uint64_t>() > uint64_t(std::numeric_limits<int32_t>::max())
                                                 : id->get<int64_t>() > std::numeric_limits<int32_t>::max();
        if (tooLarge || id->get<int64_t>() < std::numeric_limits<int32_t>::min())
            throw std::out_of_range("sourceID out of range");
        decoded.sourceID = static_cast<int32_t>(id->get<int64_t>());
    }
    mapping = std::move(decoded);
}

} // namespace orevant
