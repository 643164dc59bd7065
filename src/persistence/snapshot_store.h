#pragma once
// Keeps the list of scenes under "mixSnapshots" as one JSON array, in the list's order.
// Main queue only.
#include "persistence/mix_snapshot.h"

#include <string>
#include <vector>

namespace orevant {

class DefaultsStore;

class SnapshotStore {
public:
    explicit SnapshotStore(DefaultsStore& defaults, std::string key = "mixSnapshots")
        : key_(std::move(key)), defaults_(&defaults) {}

    // The stored list; empty when there is none or any one scene cannot be read.
    std::vector<MixSnapshot> load() const;
    // Replaces the stored list with `snapshots`.
    void save(const std::vector<MixSnapshot>& snapshots) const;

    const std::string& key() const { return key_; }
    DefaultsStore& defaults() const { return *defaults_; }

private:
    std::string key_;
    DefaultsStore* defaults_;
};

} // namespace orevant
