#include "engine/app_settings.h"

#include "persistence/defaults_keys.h"

#include <algorithm>

namespace orevant {

namespace {
const std::string kSaveKey(defaults_keys::appVolumes);
} // namespace

AppSettings::AppSettings(MainQueue& mainQueue, DefaultsStore& defaults, DeferredSave* deferredSave)
    : store_(defaults),
      ownDeferredSave_(deferredSave ? nullptr : std::make_unique<DeferredSave>(mainQueue)),
      deferredSave_(deferredSave ? *deferredSave : *ownDeferredSave_) {}

AppSettings::~AppSettings() { deferredSave_.drop(kSaveKey); }

void AppSettings::load() { volumes_ = store_.load(); }

const AppVolume* AppSettings::find(const std::string& bundleID) const {
    auto it = volumes_.find(bundleID);
    return it == volumes_.end() ? nullptr : &it->second;
}

AppVolume AppSettings::setting(const std::string& bundleID) const {
    const AppVolume* entry = find(bundleID);
    return entry ? *entry : AppVolume{};
}

bool AppSettings::isCued(const std::string& bundleID) const {
    const AppVolume* entry = find(bundleID);
    return entry && entry->isCued;
}

bool AppSettings::anyCued() const {
    return std::any_of(volumes_.begin(), volumes_.end(), [](const auto& entry) { return entry.second.isCued; });
}

void AppSettings::set(const std::string& bundleID, AppVolume setting) {
    volumes_[bundleID] = std::move(setting);
    scheduleSave();
}

void AppSettings::remove(const std::string& bundleID) {
    volumes_.erase(bundleID);
    scheduleSave();
}

void AppSettings::replaceAll(Map volumes) {
    volumes_ = std::move(volumes);
    scheduleSave();
}

void AppSettings::resetNow(const std::string& bundleID) {
    volumes_.erase(bundleID);
    deferredSave_.drop(kSaveKey);
    store_.save(volumes_);
}

void AppSettings::scheduleSave() {
    deferredSave_.request(kSaveKey, [this] { store_.save(volumes_); });
}

} // namespace orevant
