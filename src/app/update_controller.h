#pragma once
// Software updates with one policy of the agent's own: a downloaded update is installed (and the
// agent relaunched) only at a quiet moment, when the agent is not frontmost and the default
// output device is not running, so an update never cuts off sound. Until then it waits,
// watching the agent resigning active, the default output device's running state, the default
// output device itself, and a 15-second retry. Choosing the update item installs at once. An
// install that fails (the updater reports it as a failed cycle) leaves the agent as it was.
//
// Threads: everything on the main queue. Updater callbacks may come from any thread; they are
// hopped to the main queue and dropped once the controller is gone.
#include "app/app_activation.h"
#include "audio/device_reader.h"
#include "platform/main_queue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class AudioServer;
class DefaultsStore;
class Updater;

class UpdateController : public std::enable_shared_from_this<UpdateController> {
public:
    static constexpr const char* kAutomaticallyUpdateKey = "SUAutomaticallyUpdate";
    static constexpr double kRetryInterval = 15.0;

    // Wires the updater, switches automatic checks on, switches automatic downloads on unless
    // the user ever chose, and starts the updater (a start error is dropped).
    static std::shared_ptr<UpdateController> create(MainQueue& mainQueue, AudioServer& server, DefaultsStore& defaults,
                                                    AppActivation& activation, std::shared_ptr<Updater> updater);
    ~UpdateController();
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Installs a staged update now, whatever is playing; otherwise asks the updater to check.
    void checkForUpdates();
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool on);

    // Display version of an update found and not yet staged.
    const std::optional<std::string>& availableVersion() const { return availableVersion_; }
    // Display version of an update downloaded and ready to install.
    const std::optional<std::string>& stagedVersion() const { return stagedVersion_; }
    // Runs after every change of availableVersion or stagedVersion.
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

    // What the updater reports, on the main queue.
    void foundUpdate(const std::string& version);
    void noUpdateFound(const std::string& error);
    void stage(const std::string& version, std::function<void()> installNow);
    void updateCycleFailed(const std::string& description);
    void setAvailableVersion(std::optional<std::string> version);

    // Installs when the moment is quiet; true when it installed.
    bool tryToInstall();

    // Inspection, for the status menu and tests.
    bool hasRelaunchHandler() const { return static_cast<bool>(relaunchHandler_); }
    bool areWatchersArmed() const;
    bool isRetryRunning() const { return retryTask_.isValid() && !retryTask_.isCancelled(); }
    uint32_t watchedRunningDevice() const { return watchedDevice_; }

private:
    class Bridge;
    UpdateController(MainQueue& mainQueue, AudioServer& server, DefaultsStore& defaults, AppActivation& activation,
                     std::shared_ptr<Updater> updater);
    void startUpdater();
    void install();
    void armWatchers();
    void disarmWatchers();
    void watchRunningState();
    void scheduleRetry();
    bool isDefaultOutputRunning() const;
    void changed();

    MainQueue& mainQueue_;
    AudioServer& server_;
    DefaultsStore& defaults_;
    AppActivation& activation_;
    std::shared_ptr<Updater> updater_;
    std::shared_ptr<Bridge> bridge_;

    std::optional<std::string> availableVersion_;
    std::optional<std::string> stagedVersion_;
    std::function<void()> relaunchHandler_;
    std::optional<AppActivation::ObserverToken> resignObserver_;
    PropertyWatch runningListener_;
    PropertyWatch defaultDeviceListener_;
    uint32_t watchedDevice_ = 0;
    TaskHandle retryTask_;
    std::function<void()> onChange_;
};

} // namespace orevant
