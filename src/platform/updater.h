#pragma once
// The platform's software-update framework: it checks a feed, downloads an update and, when it is
// ready, offers an install-now handler instead of installing on its own. The agent decides when
// to use that handler (UpdateController).
//
// Threads: the Updater's methods on the main queue. Delegate callbacks may arrive on any thread;
// the receiver hops to its own queue.
#include <functional>
#include <memory>
#include <string>

namespace orevant {

class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;

    // A valid update was found (not yet downloaded).
    virtual void didFindValidUpdate(const std::string& displayVersion) = 0;
    // A check finished without finding an update; `error` is empty when nothing failed.
    virtual void didNotFindUpdate(const std::string& error) = 0;
    // An update is downloaded and would be installed when the application quits. `installNow`
    // installs it and relaunches the application. Returning true means the application takes
    // charge of installing.
    virtual bool willInstallUpdateOnQuit(const std::string& displayVersion, std::function<void()> installNow) = 0;
    // An update cycle ended in an error.
    virtual void didAbortWithError(const std::string& description) = 0;
    // The framework is about to show an update; the application shows its own banner instead.
    virtual void willHandleShowingUpdate(const std::string& displayVersion) = 0;
    // Scheduled updates are announced gently, through the application's own banner.
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    virtual bool shouldHandleShowingScheduledUpdate(bool inImmediateFocus) const = 0;
};

class Updater {
public:
    virtual ~Updater() = default;

    // The delegate is held weakly; callbacks stop once it is gone.
    virtual void setDelegate(std::weak_ptr<UpdaterDelegate> delegate) = 0;
    // Begins scheduled checking. Throws std::runtime_error when the framework cannot start.
    virtual void start() = 0;
    // A user-initiated check, with the framework's own user interface.
    virtual void checkForUpdates() = 0;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool on) = 0;
};

} // namespace orevant
