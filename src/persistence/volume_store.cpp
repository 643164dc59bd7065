#include "persistence/volume_store.h"

#include "persistence/defaults_keys.h"

namespace orevant {

VolumeStore::VolumeMap VolumeStore::load() const {
    return JSONDefaults::load<VolumeMap>(defaults_keys::appVolumes, *defaults_).value_or(VolumeMap{});
}

void VolumeStore::save(const VolumeMap& volumes) const {
    VolumeMap customized;
    for (const auto& [key, volume] : volumes)
        if (volume.isCustomized()) customized.emplace(key, volume);
    JSONDefaults::save(customized, defaults_keys::appVolumes, *defaults_);
}

} // namespace orevant
