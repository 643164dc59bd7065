#include "engine/scene_book.h"

#include "engine/control_target.h"
#include "persistence/defaults_keys.h"
#include "platform/defaults_store.h"

#include <algorithm>

namespace orevant {

SceneBook::SceneBook(DefaultsStore& defaults)
    : defaults_(defaults), store_(defaults, std::string(defaults_keys::mixSnapshots)) {}

void SceneBook::load() {
    slots_ = loadSlots();
    snapshots_ = store_.load();
}

std::string SceneBook::nextSceneName() const { return "Scene " + std::to_string(snapshots_.size() + 1); }

void SceneBook::save(MixSnapshot scene) {
    auto existing = std::find_if(snapshots_.begin(), snapshots_.end(),
                                 [&](const MixSnapshot& stored) { return stored.name == scene.name; });
    if (existing != snapshots_.end()) {
        // Overwriting keeps the scene's identity and its place in the list.
        scene.id = existing->id;
        *existing = std::move(scene);
    } else {
        snapshots_.push_back(std::move(scene));
    }
    store_.save(snapshots_);
}

void SceneBook::remove(const UUID& id) {
    std::erase_if(snapshots_, [&](const MixSnapshot& scene) { return scene.id == id; });
    store_.save(snapshots_);
}

std::vector<std::string> SceneBook::loadSlots() const {
    auto stored = defaults_.stringArray(std::string(defaults_keys::consoleSlots));
    if (stored && stored->size() == kSlotCount) return *stored;
    std::vector<std::string> slots(kSlotCount);
    slots[0] = ControlTarget::kMainBus;
    slots[1] = ControlTarget::kPhonesBus;
    return slots;
}

bool SceneBook::setSlot(int index, const std::string& target) {
    if (index < 0 || static_cast<size_t>(index) >= slots_.size() || slots_[static_cast<size_t>(index)] == target)
        return false;
    slots_[static_cast<size_t>(index)] = target;
    defaults_.set(std::string(defaults_keys::consoleSlots), DefaultsStringArray(slots_));
    return true;
}

} // namespace orevant
