#pragma once
// The agent's updater on Linux, until a real update feed exists: every check reports that no
// update is available. Its two switches are kept in the defaults store under the keys the
// update framework uses, so the user's choice survives a restart. Main queue only.
#include "platform/updater.h"

namespace orevant {

class DefaultsStore;

class LinuxUpdater final : public Updater {
public:
    static constexpr const char* kAutomaticChecksKey = "SUEnableAutomaticChecks";
    static constexpr const char* kAutomaticDownloadsKey = "SUAutomaticallyUpdate";

    explicit LinuxUpdater(DefaultsStore& defaults);

    void setDelegate(std::weak_ptr<UpdaterDelegate> delegate) override;
    void start() override;
    void checkForUpdates() override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool on) override;
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool on) override;

    bool isStarted() const { return started_; }

private:
    DefaultsStore& defaults_;
    std::weak_ptr<UpdaterDelegate> delegate_;
    bool started_ = false;
};

} // namespace orevant
