#pragma once
// The state document the phone companion shows as its mixer: one strip per row of `apps` (the
// system output and input, the MAIN and PHONES buses, then every listed application), the
// console slots, the scene names and the panic flag. Plain values; the JSON keys are the field
// names, written in declaration order. Any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orevant {

class MixerEngineView;

struct AppEntry {
    std::string bundleID; // an application's bundle ID, or one of the fixed row identifiers
    std::string name;
    float volume = 1.0f;
    bool isSystem = false;
    bool isCued = false;
    bool canCue = false;
    float cueVolume = 1.0f;
    bool isEmpty = false;

    bool operator==(const AppEntry&) const = default;
};

struct MixerAppState {
    static constexpr const char* kSystemOutputID = "system_output";
    static constexpr const char* kSystemInputID = "system_input";
    static constexpr const char* kMainBusID = "bus:main";
    static constexpr const char* kPhonesBusID = "bus:phones";
    static constexpr size_t kFixedRows = 4;

    std::vector<AppEntry> apps;
    std::vector<std::string> slots;
    std::vector<std::string> snapshotNames;
    bool isPanicked = false;

    // The engine's current state (main queue): the four fixed rows, then one row per
    // application in the process monitor's order. Names, slot targets and scene names are
    // bounded as companionText() does.
    static MixerAppState of(const MixerEngineView& engine);

    // Compact JSON text. Numbers are written as single-precision values (0.3, not
    // 0.30000001192092896); bytes of a name that are not UTF-8 become U+FFFD rather than costing
    // the phone the whole document.
    std::string encode() const;
    // encode() in at most `maxBytes`: applications are left out from the end first, and only
    // when the fixed part alone is too big, scene names from the end. `leftOut` counts both.
    std::string encodeWithin(size_t maxBytes, size_t& leftOut) const;
    // Nothing when the text is not such a document; every key of every entry is required.
    static std::optional<MixerAppState> decode(std::string_view text);

    bool operator==(const MixerAppState&) const = default;
};

} // namespace orevant
