#pragma once
// Scenes and console slots. A scene is a whole mix saved under a name (kept under
// "mixSnapshots", saved after every change); saving under a name that exists overwrites that
// scene in place and keeps its identity, and there are at most 100. The eight console slots each
// hold a control target of at most 255 bytes, or nothing for an unused strip (kept under
// "consoleSlots" as a plain string array). With a DeferredSave the writes go through it.
//
// Threads: main queue only.
#include "persistence/mix_snapshot.h"
#include "persistence/snapshot_store.h"

#include <cstddef>
#include <string>
#include <vector>

namespace orevant {

class DefaultsStore;
class DeferredSave;

class SceneBook {
public:
    static constexpr size_t kSlotCount = 8;
    static constexpr size_t kMaxScenes = 100;

    // Without `deferredSave` every change is written at once.
    explicit SceneBook(DefaultsStore& defaults, DeferredSave* deferredSave = nullptr);

    // Reads the stored scenes and slots.
    void load();

    const std::vector<MixSnapshot>& snapshots() const { return snapshots_; }
    // "Scene " and the number the next scene would have.
    std::string nextSceneName() const;
    // Adds `scene`, or overwrites the first one of the same name (keeping its id), and saves.
    // False, and nothing changed, when a new scene would be one past kMaxScenes.
    bool save(MixSnapshot scene);
    // Removes every scene with `id` and saves.
    void remove(const UUID& id);

    const std::vector<std::string>& slots() const { return slots_; }
    // The stored slots when exactly eight are stored; else "bus:main", "bus:phones" and six
    // empty strips.
    std::vector<std::string> loadSlots() const;
    // Puts `target` (cut to 255 bytes on a UTF-8 boundary) into a slot and stores all eight. False, and nothing stored, for an index
    // outside 0...7 or a target the slot already holds.
    bool setSlot(int index, const std::string& target);

private:
    void saveScenes();
    void saveSlots();

    DefaultsStore& defaults_;
    DeferredSave* deferredSave_;
    SnapshotStore store_;
    std::vector<MixSnapshot> snapshots_;
    std::vector<std::string> slots_;
};

} // namespace orevant
