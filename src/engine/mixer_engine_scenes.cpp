// Scenes: the whole mix (every application's setting and the MAIN and PHONES levels) saved under
// a name and recalled in one step.
#include "engine/mixer_engine.h"

#include "audio/system_volume_controller.h"
#include "persistence/snapshot_store.h"

#include <algorithm>

namespace orevant {

void MixerEngine::saveScene(const std::string& name) {
    MixSnapshot scene;
    scene.id = UUID::random();
    scene.name = name;
    scene.volumes = volumes_;
    scene.mainLevel = systemVolume_->volume();
    // Without a paired default device there is no PHONES bus to remember.
    if (const VolumeControlling* phones = phonesController()) scene.phonesLevel = phones->volume();
    scene.savedAt = ReferenceDate::now();

    auto existing = std::find_if(snapshots_.begin(), snapshots_.end(),
                                 [&](const MixSnapshot& stored) { return stored.name == name; });
    if (existing != snapshots_.end()) {
        // Overwriting keeps the scene's identity and its place in the list.
        scene.id = existing->id;
        *existing = std::move(scene);
    } else {
        snapshots_.push_back(std::move(scene));
    }
    snapshotStore_->save(snapshots_);
    sendAppList();
    changed();
}

void MixerEngine::applyScene(const MixSnapshot& sceneRef) {
    // The argument may be one of our own scenes; nothing below changes the list, but a copy
    // keeps the recall independent of it.
    const MixSnapshot scene = sceneRef;

    volumes_ = scene.volumes;
    scheduleSave();
    rebuildTaps();

    for (const auto& [bundleID, running] : taps_) {
        AppVolume setting;
        if (auto it = volumes_.find(bundleID); it != volumes_.end()) setting = it->second;
        // An explicitly routed application plays at unity: its level is its devices' volume.
        const bool unityRoute = !setting.outputDeviceUIDs.empty() && !setting.isCued;
        running->setVolume(unityRoute ? 1.0f : setting.volume);
        running->setMuted(unityRoute ? false : setting.isMuted);
        running->setCueVolume(setting.cueVolume);
    }
    applyCueState();

    if (scene.mainLevel) systemVolume_->setVolume(*scene.mainLevel);
    if (scene.phonesLevel) {
        if (VolumeControlling* phones = phonesController()) phones->setVolume(*scene.phonesLevel);
    }
    sendAppList();
    changed();
}

void MixerEngine::deleteScene(const UUID& id) {
    std::erase_if(snapshots_, [&](const MixSnapshot& scene) { return scene.id == id; });
    snapshotStore_->save(snapshots_);
    sendAppList();
    changed();
}

} // namespace orevant
