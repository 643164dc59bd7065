#pragma once
// JSON documents kept in data entries of the defaults store.
//
// A value type T takes part by providing, in its own namespace,
//     void to_json(orevant::Json& j, const T& value);
//     void from_json(const orevant::Json& j, T& value);   // throws on anything it cannot accept
// Standard containers of such types (vector, map keyed by string, optional) work as they are.
// Objects keep their keys in insertion order, so a type's keys are written in the order its
// to_json sets them.
//
// Main queue only, like the defaults store.
#include "platform/defaults_store.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

using Json = nlohmann::ordered_json;

class JSONDefaults {
public:
    // The decoded entry under `key`; nothing when it is absent, not data, not JSON or not a T.
    // Never logs, never touches the entry.
    template <typename T>
    static std::optional<T> load(std::string_view key, const DefaultsStore& defaults) {
        auto document = loadJSON(key, defaults);
        if (!document) return std::nullopt;
        return decode<T>(*document);
    }

    // Encodes `value` and stores it under `key`. When encoding fails nothing is written and
    // "Failed to encode <key>; not persisted" is logged. An entry about to be replaced that a T
    // cannot be read from is first kept under "<key>.unreadable" (see keepUnreadable).
    template <typename T>
    static void save(const T& value, std::string_view key, DefaultsStore& defaults) {
        std::optional<Json> document;
        try {
            document = Json(value);
        } catch (const std::exception&) {
            logEncodeFailure(key);
            return;
        }
        saveJSON(*document, key, defaults, [](const Json& previous) { return decode<T>(previous).has_value(); });
    }

    // The parsed document under `key`, or nothing (absent, not data, not JSON).
    static std::optional<Json> loadJSON(std::string_view key, const DefaultsStore& defaults);
    // Stores `document` under `key`. `isReadable` tells whether the entry it replaces is a
    // document its reader accepts; when it is given and says no, that entry is kept first.
    static void saveJSON(const Json& document, std::string_view key, DefaultsStore& defaults,
                         const std::function<bool(const Json&)>& isReadable = {});

    // Nothing that was stored is lost to a save: when the entry under `key` is present but
    // unreadable (not data, not JSON, or rejected by `isReadable`), it is copied to
    // "<key>.unreadable" (or ".unreadable.2", ... when an earlier, different copy is there) and
    // that is logged at error level. A copy identical to one already kept is not made again.
    static void keepUnreadable(std::string_view key, DefaultsStore& defaults,
                               const std::function<bool(const Json&)>& isReadable);

    template <typename T>
    static std::optional<T> decode(const Json& document) {
        try {
            return document.get<T>();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

private:
    static void logEncodeFailure(std::string_view key);
};

// Numbers stored from 32-bit floats: written with the float's shortest decimal form (0.3, not
// 0.30000001192092896); a non-finite value cannot be encoded and throws.
Json encodeFloat(float value);
// Reads a 32-bit float: throws unless `j` is a number that fits a finite float.
float decodeFloat(const Json& j);

} // namespace orevant
