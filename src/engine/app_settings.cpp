#include "engine/app_settings.h"

#include <algorithm>

namespace orevant {

AppSettings::AppSettings(MainQueue& mainQueue, DefaultsStore& defaults) : mainQueue_(mainQueue), store_(defaults) {}

AppSettings::~AppSettings() { saveTask_.cancel(); }

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
    saveTask_.cancel();
    store_.save(volumes_);
}

void AppSettings::scheduleSave() {
    saveTask_.cancel();
    saveTask_ = mainQueue_.postAfter(kSaveDelaySeconds, guard_.wrap([this] { store_.save(volumes_); }));
}

} // namespace orevant
