#pragma once
// What the audio-server seam shows at one moment: objects and their typed property values,
// worked out from the PipeWire mirror. Reads answer from it; a new state is compared with the
// previous one to know which listeners to call. Plain value; the owner guards it.
#include "platform/audio_types.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

namespace orevant {

class SeamState {
public:
    using Value = std::variant<std::vector<uint8_t>, std::string, std::vector<std::string>>;
    struct Property {
        Value value;
        bool settable = false;
        bool operator==(const Property&) const = default;
    };
    struct Change {
        AudioObjectID object = 0;
        uint32_t selector = 0;
        uint32_t scope = 0;
        bool operator==(const Change&) const = default;
    };

    void addObject(AudioObjectID object) { objects_.insert(object); }
    bool hasObject(AudioObjectID object) const { return objects_.count(object) > 0; }

    template <typename T>
    void set(AudioObjectID object, uint32_t selector, uint32_t scope, const T& value, bool settable = false) {
        static_assert(std::is_trivially_copyable_v<T>);
        std::vector<uint8_t> bytes(sizeof(T));
        std::memcpy(bytes.data(), &value, sizeof(T));
        put(object, selector, scope, Value(std::move(bytes)), settable);
    }
    void setString(AudioObjectID object, uint32_t selector, uint32_t scope, std::string value) {
        put(object, selector, scope, Value(std::move(value)), false);
    }
    void setStringList(AudioObjectID object, uint32_t selector, uint32_t scope, std::vector<std::string> value) {
        put(object, selector, scope, Value(std::move(value)), false);
    }
    void setIDs(AudioObjectID object, uint32_t selector, uint32_t scope, const std::vector<AudioObjectID>& ids);
    void setBytes(AudioObjectID object, uint32_t selector, uint32_t scope, std::vector<uint8_t> bytes) {
        put(object, selector, scope, Value(std::move(bytes)), false);
    }

    // The property at (selector, scope), else at (selector, global); null when neither exists.
    const Property* find(AudioObjectID object, uint32_t selector, uint32_t scope) const;
    template <typename T>
    bool read(AudioObjectID object, uint32_t selector, uint32_t scope, T& out) const {
        const Property* p = find(object, selector, scope);
        const auto* bytes = p ? std::get_if<std::vector<uint8_t>>(&p->value) : nullptr;
        if (!bytes || bytes->size() != sizeof(T)) return false;
        std::memcpy(&out, bytes->data(), sizeof(T));
        return true;
    }

    // Every (object, selector, scope) whose value differs between the two, or that exists in
    // one only; an object that appears or goes reports each of its properties.
    static std::vector<Change> changes(const SeamState& before, const SeamState& after);

private:
    void put(AudioObjectID object, uint32_t selector, uint32_t scope, Value value, bool settable);

    std::set<AudioObjectID> objects_;
    std::map<std::tuple<AudioObjectID, uint32_t, uint32_t>, Property> properties_;
};

} // namespace orevant
