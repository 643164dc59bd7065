#include "platform/linux/linux_updater.h"

#include "platform/defaults_store.h"

namespace orevant {

LinuxUpdater::LinuxUpdater(DefaultsStore& defaults) : defaults_(defaults) {}

void LinuxUpdater::setDelegate(std::weak_ptr<UpdaterDelegate> delegate) { delegate_ = std::move(delegate); }

void LinuxUpdater::start() { started_ = true; }

void LinuxUpdater::checkForUpdates() {
    if (auto delegate = delegate_.lock()) delegate->didNotFindUpdate({});
}

bool LinuxUpdater::automaticallyChecksForUpdates() const {
    return defaults_.boolean(kAutomaticChecksKey).value_or(false);
}

void LinuxUpdater::setAutomaticallyChecksForUpdates(bool on) { defaults_.set(kAutomaticChecksKey, on); }

bool LinuxUpdater::automaticallyDownloadsUpdates() const {
    return defaults_.boolean(kAutomaticDownloadsKey).value_or(false);
}

void LinuxUpdater::setAutomaticallyDownloadsUpdates(bool on) { defaults_.set(kAutomaticDownloadsKey, on); }

} // namespace orevant
