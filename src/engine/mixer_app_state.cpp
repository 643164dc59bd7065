#include "engine/mixer_app_state.h"

#include "audio/audio_process_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/companion_text.h"
#include "engine/mixer_engine_view.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace orevant {

namespace {

// Keys in insertion order and numbers as single-precision values, so that a level of 0.3 reads
// "0.3" on the phone.
using CompanionJson =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;

std::string dump(const CompanionJson& value) {
    return value.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

CompanionJson rowJson(const AppEntry& entry) {
    CompanionJson row = CompanionJson::object();
    row["bundleID"] = entry.bundleID;
    row["name"] = entry.name;
    row["volume"] = entry.volume;
    row["isSystem"] = entry.isSystem;
    row["isCued"] = entry.isCued;
    row["canCue"] = entry.canCue;
    row["cueVolume"] = entry.cueVolume;
    row["isEmpty"] = entry.isEmpty;
    return row;
}

float finiteOr(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

AppEntry systemRow(const char* bundleID, const char* name, float volume, bool isEmpty) {
    AppEntry row;
    row.bundleID = bundleID;
    row.name = name;
    row.volume = volume;
    row.isSystem = true;
    row.isEmpty = isEmpty;
    return row;
}

const CompanionJson& member(const CompanionJson& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) throw std::invalid_argument(key);
    return *it;
}

std::string stringAt(const CompanionJson& object, const char* key) {
    const CompanionJson& value = member(object, key);
    if (!value.is_string()) throw std::invalid_argument(key);
    return value.get<std::string>();
}

bool boolAt(const CompanionJson& object, const char* key) {
    const CompanionJson& value = member(object, key);
    if (!value.is_boolean()) throw std::invalid_argument(key);
    return value.get<bool>();
}

float numberAt(const CompanionJson& object, const char* key) {
    const CompanionJson& value = member(object, key);
    if (!value.is_number()) throw std::invalid_argument(key);
    return value.get<float>();
}

std::vector<std::string> stringsAt(const CompanionJson& object, const char* key) {
    const CompanionJson& value = member(object, key);
    if (!value.is_array()) throw std::invalid_argument(key);
    std::vector<std::string> strings;
    for (const CompanionJson& element : value) {
        if (!element.is_string()) throw std::invalid_argument(key);
        strings.push_back(element.get<std::string>());
    }
    return strings;
}

} // namespace

MixerAppState MixerAppState::of(const MixerEngineView& engine) {
    MixerAppState state;
    const bool hasOutput = engine.currentOutputDevice().has_value();
    const bool paired = engine.isPaired();
    const float outputVolume = finiteOr(engine.systemVolume().volume(), 1.0f);
    const float phonesVolume = paired ? finiteOr(engine.phonesBusVolume().volume(), 1.0f) : 0.0f;

    state.apps.push_back(systemRow(kSystemOutputID, "Output", outputVolume, false));
    state.apps.push_back(systemRow(kSystemInputID, "Input", finiteOr(engine.inputVolume().volume(), 1.0f), false));
    state.apps.push_back(systemRow(kMainBusID, "MAIN", outputVolume, !hasOutput));
    state.apps.push_back(systemRow(kPhonesBusID, "PHONES", phonesVolume, !paired));

    const auto& volumes = engine.volumes();
    for (const AudioApp& app : engine.processMonitor().apps()) {
        AppEntry row;
        row.bundleID = app.bundleID;
        row.name = companionText(app.name);
        row.canCue = paired;
        if (auto it = volumes.find(app.bundleID); it != volumes.end()) {
            row.volume = finiteOr(it->second.volume, 1.0f);
            row.isCued = it->second.isCued;
            row.cueVolume = finiteOr(it->second.cueVolume, 1.0f);
        }
        state.apps.push_back(std::move(row));
    }
    for (const std::string& slot : engine.slots()) state.slots.push_back(companionText(slot));
    for (const MixSnapshot& scene : engine.snapshots()) state.snapshotNames.push_back(companionText(scene.name));
    state.isPanicked = engine.isPanicked();
    return state;
}

std::string MixerAppState::encode() const {
    CompanionJson rows = CompanionJson::array();
    for (const AppEntry& entry : apps) rows.push_back(rowJson(entry));
    CompanionJson document = CompanionJson::object();
    document["apps"] = std::move(rows);
    document["slots"] = slots;
    document["snapshotNames"] = snapshotNames;
    document["isPanicked"] = isPanicked;
    return dump(document);
}

std::string MixerAppState::encodeWithin(size_t maxBytes, size_t& leftOut) const {
    leftOut = 0;
    std::string text = encode();
    MixerAppState shorter;
    while (text.size() > maxBytes) {
        if (leftOut == 0) shorter = *this;
        // Entries are left out by what each saves (its text and one comma) until the estimate
        // fits; the text made then is checked again.
        size_t excess = text.size() - maxBytes;
        const size_t before = leftOut;
        while (excess > 0 && shorter.apps.size() > kFixedRows) {
            const size_t saved = dump(rowJson(shorter.apps.back())).size() + 1;
            shorter.apps.pop_back();
            ++leftOut;
            excess = saved >= excess ? 0 : excess - saved;
        }
        while (excess > 0 && !shorter.snapshotNames.empty()) {
            const size_t saved = dump(CompanionJson(shorter.snapshotNames.back())).size() + 1;
            shorter.snapshotNames.pop_back();
            ++leftOut;
            excess = saved >= excess ? 0 : excess - saved;
        }
        if (leftOut == before) return {}; // nothing more may go
        text = shorter.encode();
    }
    return text;
}

std::optional<MixerAppState> MixerAppState::decode(std::string_view text) {
    try {
        const CompanionJson document = CompanionJson::parse(text);
        if (!document.is_object()) return std::nullopt;
        MixerAppState state;
        const CompanionJson& rows = member(document, "apps");
        if (!rows.is_array()) return std::nullopt;
        for (const CompanionJson& row : rows) {
            if (!row.is_object()) return std::nullopt;
            AppEntry entry;
            entry.bundleID = stringAt(row, "bundleID");
            entry.name = stringAt(row, "name");
            entry.volume = numberAt(row, "volume");
            entry.isSystem = boolAt(row, "isSystem");
            entry.isCued = boolAt(row, "isCued");
            entry.canCue = boolAt(row, "canCue");
            entry.cueVolume = numberAt(row, "cueVolume");
            entry.isEmpty = boolAt(row, "isEmpty");
            state.apps.push_back(std::move(entry));
        }
        state.slots = stringsAt(document, "slots");
        state.snapshotNames = stringsAt(document, "snapshotNames");
        state.isPanicked = boolAt(document, "isPanicked");
        return state;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace orevant
