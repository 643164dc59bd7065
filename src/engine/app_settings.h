#pragma once
// The applications' settings (the engine's `volumes`): bundle ID -> AppVolume, where an
// application without an entry has the default setting. Every change schedules the deferred
// save (DeferredSave), which writes the customised entries under "appVolumes" 0.4 s after the
// last change, so a dragged slider costs one write.
//
// Threads: main queue only.
#include "engine/deferred_save.h"
#include "persistence/app_volume.h"
#include "persistence/volume_store.h"
#include "platform/main_queue.h"

#include <map>
#include <memory>
#include <string>

namespace orevant {

class DefaultsStore;

class AppSettings {
public:
    using Map = std::map<std::string, AppVolume>;
    static constexpr double kSaveDelaySeconds = DeferredSave::kDelaySeconds;

    // Saves through `deferredSave` (the engine's), or through one of its own.
    AppSettings(MainQueue& mainQueue, DefaultsStore& defaults, DeferredSave* deferredSave = nullptr);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // Replaces the map with the stored one (nothing stored: empty). Schedules nothing.
    void load();

    const Map& all() const { return volumes_; }
    // The entry, or null.
    const AppVolume* find(const std::string& bundleID) const;
    // The entry, or the default setting.
    AppVolume setting(const std::string& bundleID) const;
    bool isCued(const std::string& bundleID) const;
    // Some entry is cued to PHONES.
    bool anyCued() const;

    // Each change below schedules the deferred save.
    void set(const std::string& bundleID, AppVolume setting);
    void remove(const std::string& bundleID);
    void replaceAll(Map volumes);
    // Removes the entry and saves at once (a pending deferred save is dropped).
    void resetNow(const std::string& bundleID);

private:
    void scheduleSave();

    VolumeStore store_;
    Map volumes_;
    std::unique_ptr<DeferredSave> ownDeferredSave_;
    DeferredSave& deferredSave_;
};

} // namespace orevant
