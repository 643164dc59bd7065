#pragma once
// What one console strip shows and does, made from the control target its slot holds: a bus,
// the system output or input, a device or an application. GUI thread only.
#include <functional>
#include <optional>
#include <string>

namespace orevant {

class MixerEngine;

struct StripModel {
    std::string name;
    std::string icon; // symbol name
    float volume = 0.0f;
    float level = 0.0f;
    bool isActive = false;
    bool isCued = false;
    std::function<void(float)> setVolume;
    std::function<void()> toggleCue; // applications only
    std::optional<std::string> midiTarget;
    std::optional<std::string> cueMIDITarget;

    // The strip for `target`; an empty (inactive) strip for the empty target.
    static StripModel make(MixerEngine& engine, const std::string& target);
    // The name a target is shown under (assign menu, strips).
    static std::string targetName(const MixerEngine& engine, const std::string& target);
};

} // namespace orevant
