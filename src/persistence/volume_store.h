#pragma once
// Keeps the applications' settings under "appVolumes". Main queue only.
#include "persistence/app_volume.h"

#include <map>
#include <string>

namespace orevant {

class DefaultsStore;

class VolumeStore {
public:
    using VolumeMap = std::map<std::string, AppVolume>;

    explicit VolumeStore(DefaultsStore& defaults) : defaults_(&defaults) {}

    // The stored map; empty when there is none or it cannot be read as a whole.
    VolumeMap load() const;
    // Writes the customised entries of `volumes` only.
    void save(const VolumeMap& volumes) const;

    DefaultsStore& defaults() const { return *defaults_; }

private:
    DefaultsStore* defaults_;
};

} // namespace orevant
