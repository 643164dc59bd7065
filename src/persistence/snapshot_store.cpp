#include "persistence/snapshot_store.h"

namespace orevant {

std::vector<MixSnapshot> SnapshotStore::load() const {
    return JSONDefaults::load<std::vector<MixSnapshot>>(key_, *defaults_).value_or(std::vector<MixSnapshot>{});
}

void SnapshotStore::save(const std::vector<MixSnapshot>& snapshots) const {
    JSONDefaults::save(snapshots, key_, *defaults_);
}

} // namespace orevant
