#pragma once
// MIDI learn and the mapping store: controller number -> control target, each mapping bound to
// the source it was learned from (or, when learned without one, to the first hardware source
// that sends its number). Kept under "midiMappings" in the defaults store.
//
// Main queue only.
#include "midi/midi_mapping.h"
#include "midi/midi_source.h"

#include <map>
#include <optional>
#include <string>

namespace orevant {

class DefaultsStore;

class MIDIMappingManager {
public:
    // Key: the controller number in decimal ("7").
    using Mappings = std::map<std::string, MIDIMapping>;

    // Loads the stored mappings (migrating the older dictionary form once).
    explicit MIDIMappingManager(DefaultsStore& defaults);

    const Mappings& mappings() const { return mappings_; }

    // The target being learned; none when not in learn mode. The user interface arms and
    // cancels learn mode through the setter.
    const std::optional<std::string>& learningTarget() const { return learningTarget_; }
    void setLearningTarget(std::optional<std::string> target) { learningTarget_ = std::move(target); }

    // The two steps of every incoming control (a MIDI control change, or the companion's
    // numbered control with no source): in learn mode, binds `cc` from `source` to the target
    // being learned, ends learn mode and gives nothing (that movement is not applied);
    // otherwise gives target(cc, source).
    std::optional<std::string> learnOrLookup(int cc, const std::optional<MIDISource>& source);

    // Stores a learned mapping: `cc` now drives only `target`, and `target` only `cc`; bound to
    // `source` when there is one.
    void assign(int cc, const std::optional<MIDISource>& source, const std::string& target);
    // The target `cc` drives when it comes from `source` (none: the companion's numbered
    // control). An unbound mapping binds itself to the first hardware source that asks.
    std::optional<std::string> target(int cc, const std::optional<MIDISource>& source);
    // The controller number of the first mapping whose target is `target`.
    std::optional<int> ccNumber(const std::string& target) const;
    // Removes every mapping whose target is `target`, and saves.
    void removeMapping(const std::string& target);

    void load();
    void save();

private:
    DefaultsStore& defaults_;
    Mappings mappings_;
    std::optional<std::string> learningTarget_;
};

} // namespace orevant
