#include "midi/midi_mapping_manager.h"

#include "persistence/defaults_keys.h"
#include "persistence/json_defaults.h"
#include "platform/logger.h"

#include <charconv>

namespace orevant {
namespace {

const Logger& log() {
    static const Logger logger("MIDIMappingManager");
    return logger;
}

// A decimal integer with an optional sign and nothing else; none otherwise (or on overflow).
std::optional<int> parseDecimal(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    if (first == last || *first == '+') return std::nullopt;
    int value = 0;
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) return std::nullopt;
    return value;
}

} // namespace

MIDIMappingManager::MIDIMappingManager(DefaultsStore& defaults) : defaults_(defaults) { load(); }

std::optional<std::string> MIDIMappingManager::learnOrLookup(int cc, const std::optional<MIDISource>& source) {
    if (learningTarget_) {
        std::string target = std::move(*learningTarget_);
        learningTarget_.reset();
        assign(cc, source, target);
        return std::nullopt;
    }
    return target(cc, source);
}

void MIDIMappingManager::assign(int cc, const std::optional<MIDISource>& source, const std::string& target) {
    removeMapping(target);
    MIDIMapping mapping{target, std::nullopt};
    if (source) mapping.sourceID = source->id;
    mappings_[std::to_string(cc)] = mapping;
    save();
    // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
    log().info(strprintf("Määritetty MIDI CC %ld (lähde %d) -> %s", static_cast<long>(cc), source ? source->id : 0,
                         target.c_str()));
}

std::optional<std::string> MIDIMappingManager::target(int cc, const std::optional<MIDISource>& source) {
    auto entry = mappings_.find(std::to_string(cc));
    if (entry == mappings_.end()) return std::nullopt;
    MIDIMapping& mapping = entry->second;
    if (!source) return mapping.target;
    if (mapping.sourceID) {
        if (*mapping.sourceID == source->id) return mapping.target;
        return std::nullopt;
    }
    if (!source->isHardware) return std::nullopt;
    mapping.sourceID = source->id;
    std::string bound = mapping.target; // save() below must not invalidate what is returned
    save();
    // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
    log().info(strprintf("MIDI CC %ld sidottu lähteeseen %d", static_cast<long>(cc), source->id));
    return bound;
}

std::optional<int> MIDIMappingManager::ccNumber(const std::string& target) const {
    for (const auto& [key, mapping] : mappings_) {
        if (mapping.target == target) return parseDecimal(key);
    }
    return std::nullopt;
}

void MIDIMappingManager::removeMapping(const std::string& target) {
    std::erase_if(mappings_, [&target](const auto& entry) { return entry.second.target == target; });
    save();
}

void MIDIMappingManager::load() {
    const std::string key(defaults_keys::midiMappings);
    if (auto stored = JSONDefaults::load<Mappings>(key, defaults_)) {
        mappings_ = std::move(*stored);
        return;
    }
    auto legacy = defaults_.dictionary(key);
    if (!legacy) return;
    Mappings migrated;
    for (const auto& [cc, value] : *legacy) {
        const std::string* target = value.get<std::string>();
        if (!target) return; // not the older form after all: start empty, leave the entry alone
        migrated[cc] = MIDIMapping{*target, std::nullopt};
    }
    mappings_ = std::move(migrated);
    // The dictionary is replaced by its JSON form; nothing of it is lost, so it is not kept
    // aside as an unreadable entry.
    defaults_.remove(key);
    save();
    // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
    log().info(
        strprintf("Migratoitu %ld MIDI-kartoitusta lähdetietoiseen muotoon", static_cast<long>(mappings_.size())));
}

void MIDIMappingManager::save() { JSONDefaults::save(mappings_, defaults_keys::midiMappings, defaults_); }

} // namespace orevant
