#pragma once
// The simulated audio system the agent runs on when no scenario file is given: a stereo built-in
// output (the default), an 8-channel USB interface, a paired Bluetooth headset, three
// applications of which two play (one through a helper process), and one virtual MIDI source.
// Any thread.
#include <cstddef>
#include <string>
#include <vector>

namespace orevant {

struct ScenarioMIDISource {
    std::string name;
    bool isHardware = false;
};

class BuiltinScenario {
public:
    // The scenario document (the same format as --scenario files).
    static const std::string& text();
    static constexpr size_t kMaxMIDISources = 64;
    // The "midi" section of a scenario document: {"midi": {"sources": [{"name": ..., "hardware": false}]}},
    // at most kMaxMIDISources of them. Throws std::runtime_error for a section that cannot be used.
    static std::vector<ScenarioMIDISource> midiSources(const std::string& documentText);
};

} // namespace orevant
