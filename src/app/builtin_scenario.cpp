#include "app/builtin_scenario.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace orevant {

const std::string& BuiltinScenario::text() {
    static const std::string document = R"({
  "devices": [
    {"uid": "builtin-speakers", "name": "Built-in Speakers", "transport": "bltn", "outputChannels": 2},
    {"uid": "builtin-microphone", "name": "Built-in Microphone", "transport": "bltn", "outputChannels": 0,
     "inputChannels": 1},
    {"uid": "usb-studio-interface", "name": "Studio Interface 8x8", "transport": "usb ", "outputChannels": 8,
     "inputChannels": 8}
  ],
  "defaultOutput": "builtin-speakers",
  "defaultInput": "builtin-microphone",
  "bluetooth": [
    {"address": "00-1b-66-4f-a2-10", "name": "Travel Headset", "connected": true,
     "device": {"uid": "00-1b-66-4f-a2-10:output", "name": "Travel Headset", "transport": "blue",
                "outputChannels": 2}}
  ],
  "apps": [
    {"pid": 501, "bundleID": "org.example.MusicPlayer", "name": "Music Player"},
    {"pid": 502, "bundleID": "org.example.WebBrowser", "name": "Web Browser"},
    {"pid": 503, "responsiblePID": 502},
    {"pid": 504, "bundleID": "org.example.VideoCall", "name": "Video Call"}
  ],
  "processes": [
    {"pid": 501, "playing": true, "source": {"sine": {"frequency": 440, "amplitude": 0.4}}},
    {"pid": 502, "playing": false},
    {"pid": 503, "playing": true, "source": {"sine": {"frequency": 660, "amplitude": 0.25}}},
    {"pid": 504, "playing": false, "recording": true}
  ],
  "midi": {"sources": [{"name": "OREVANT Virtual Controller", "hardware": false}]}
})";
    return document;
}

std::vector<ScenarioMIDISource> BuiltinScenario::midiSources(const std::string& documentText) {
    const auto document = nlohmann::json::parse(documentText, nullptr, false);
    if (document.is_discarded() || !document.is_object()) throw std::runtime_error("the scenario is not a JSON object");
    std::vector<ScenarioMIDISource> sources;
    if (!document.contains("midi")) return sources;
    const auto& midi = document.at("midi");
    if (!midi.is_object()) throw std::runtime_error("midi: must be an object");
    if (!midi.contains("sources")) return sources;
    const auto& list = midi.at("sources");
    if (!list.is_array()) throw std::runtime_error("midi.sources: must be an array");
    if (list.size() > kMaxMIDISources)
        throw std::runtime_error("midi.sources: has " + std::to_string(list.size()) + " entries; at most " +
                                 std::to_string(kMaxMIDISources) + " are allowed");
    for (size_t i = 0; i < list.size(); ++i) {
        const auto& entry = list[i];
        const std::string where = "midi.sources[" + std::to_string(i) + "]";
        if (!entry.is_object() || !entry.contains("name") || !entry.at("name").is_string()) {
            throw std::runtime_error(where + ": needs a \"name\" string");
        }
        ScenarioMIDISource source{entry.at("name").get<std::string>(), false};
        if (entry.contains("hardware")) {
            if (!entry.at("hardware").is_boolean())
                throw std::runtime_error(where + ".hardware: must be true or false");
            source.isHardware = entry.at("hardware").get<bool>();
        }
        sources.push_back(std::move(source));
    }
    return sources;
}

} // namespace orevant
