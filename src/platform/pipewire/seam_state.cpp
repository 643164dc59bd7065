#include "platform/pipewire/seam_state.h"

namespace orevant {

void SeamState::put(AudioObjectID object, uint32_t selector, uint32_t scope, Value value, bool settable) {
    objects_.insert(object);
    properties_[{object, selector, scope}] = Property{std::move(value), settable};
}

void SeamState::setIDs(AudioObjectID object, uint32_t selector, uint32_t scope, const std::vector<AudioObjectID>& ids) {
    std::vector<uint8_t> bytes(ids.size() * sizeof(AudioObjectID));
    if (!ids.empty()) std::memcpy(bytes.data(), ids.data(), bytes.size());
    put(object, selector, scope, Value(std::move(bytes)), false);
}

const SeamState::Property* SeamState::find(AudioObjectID object, uint32_t selector, uint32_t scope) const {
    auto it = properties_.find({object, selector, scope});
    if (it == properties_.end() && scope != scope::global) it = properties_.find({object, selector, scope::global});
    return it == properties_.end() ? nullptr : &it->second;
}

std::vector<SeamState::Change> SeamState::changes(const SeamState& before, const SeamState& after) {
    std::vector<Change> out;
    auto a = before.properties_.begin();
    auto b = after.properties_.begin();
    auto report = [&](const auto& key) { out.push_back(Change{std::get<0>(key), std::get<1>(key), std::get<2>(key)}); };
    while (a != before.properties_.end() || b != after.properties_.end()) {
        if (b == after.properties_.end() || (a != before.properties_.end() && a->first < b->first)) {
            report(a->first);
            ++a;
        } else if (a == before.properties_.end() || b->first < a->first) {
            report(b->first);
            ++b;
        } else {
            if (!(a->second.value == b->second.value)) report(a->first);
            ++a;
            ++b;
        }
    }
    return out;
}

} // namespace orevant
