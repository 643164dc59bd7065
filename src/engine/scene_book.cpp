#include "engine/scene_book.h"

#include "engine/companion_text.h"
#include "engine/control_target.h"
#include "engine/deferred_save.h"
#include "persistence/defaults_keys.h"
#include "platform/defaults_store.h"

#include <algorithm>

namespace orevant {

SceneBook::SceneBook(DefaultsStore& defaults, DeferredSave* deferredSave)
    : defaults_(defaults), deferredSave_(deferredSave), store_(defaults, std::string(defaults_keys::mixSnapshots)) {}

void SceneBook::load() {
    slots_ = loadSlots();
    snapshots_ = store_.load();
}

std::string SceneBook::nextSceneName() const { return "Scene " + std::to_string(snapshots_.size() + 1); }

bool SceneBook::save(MixSnapshot scene) {
    auto existing = std::find_if(snapshots_.begin(), snapshots_.end(),
                                 [&](const MixSnapshot& stored) { return stored.name == scene.name; });
    if (existing != snapshots_.end()) {
        // Overwriting keeps the scene's identity and its place in the list.
        scene.id = existing->id;
        *existing = std::move(scene);
    } else {
        if (snapshots_.size() >= kMaxScenes) return false;
        snapshots_.push_back(std::move(scene));
    }
    saveScenes();
    return true;
}

void SceneBook::remove(const UUID& id) {
    std::erase_if(snapshots_, [&](const MixSnapshot& scene) { return scene.id == id; });
    saveScenes();
}

void SceneBook::saveScenes() {
    if (!deferredSave_) return store_.save(snapshots_);
    deferredSave_->request(std::string(defaults_keys::mixSnapshots), [this] { store_.save(snapshots_); });
}

void SceneBook::saveSlots() {
    auto write = [this] { defaults_.set(std::string(defaults_keys::consoleSlots), DefaultsStringArray(slots_)); };
    if (!deferredSave_) return write();
    deferredSave_->request(std::string(defaults_keys::consoleSlots), write);
}

std::vector<std::string> SceneBook::loadSlots() const {
    auto stored = defaults_.stringArray(std::string(defaults_keys::consoleSlots));
    if (stored && stored->size() == kSlotCount) return *stored;
    std::vector<std::string> slots(kSlotCount);
    slots[0] = ControlTarget::kMainBus;
    slots[1] = ControlTarget::kPhonesBus;
    return slots;
}

bool SceneBook::setSlot(int index, const std::string& fullTarget) {
    const std::string_view target = cutUTF8(fullTarget);
    if (index < 0 || static_cast<size_t>(index) >= slots_.size() || slots_[static_cast<size_t>(index)] == target)
        return false;
    slots_[static_cast<size_t>(index)] = std::string(target);
    saveSlots();
    return true;
}

} // namespace orevant
