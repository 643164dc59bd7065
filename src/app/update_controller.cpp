#include "app/update_controller.h"

#include "app/process_state.h"
#include "audio/hal_error.h"
#include "audio/hal_listener.h"
#include "platform/defaults_store.h"
#include "platform/logger.h"
#include "platform/updater.h"

#include <exception>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("updates");
    return logger;
}
} // namespace

// Receives the updater's callbacks and hands them to the controller on the main queue.
class UpdateController::Bridge final : public UpdaterDelegate {
public:
    Bridge(MainQueue& mainQueue, std::weak_ptr<UpdateController> owner)
        : mainQueue_(mainQueue), owner_(std::move(owner)) {}

    void didFindValidUpdate(const std::string& displayVersion) override {
        hop([displayVersion](UpdateController& c) { c.foundUpdate(displayVersion); });
    }
    void didNotFindUpdate(const std::string& error) override {
        hop([error](UpdateController& c) { c.noUpdateFound(error); });
    }
    bool willInstallUpdateOnQuit(const std::string& displayVersion, std::function<void()> installNow) override {
        hop([displayVersion, installNow = std::move(installNow)](UpdateController& c) {
            c.stage(displayVersion, installNow);
        });
        return true;
    }
    void didAbortWithError(const std::string& description) override {
        hop([description](UpdateController& c) { c.updateCycleFailed(description); });
    }
    void willHandleShowingUpdate(const std::string& displayVersion) override {
        hop([displayVersion](UpdateController& c) { c.foundUpdate(displayVersion); });
    }
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    bool shouldHandleShowingScheduledUpdate(bool) const override { return false; }

private:
    void hop(std::function<void(UpdateController&)> action) {
        mainQueue_.post([owner = owner_, action = std::move(action)] {
            if (auto controller = owner.lock()) action(*controller);
        });
    }

    MainQueue& mainQueue_;
    std::weak_ptr<UpdateController> owner_;
};

UpdateController::UpdateController(MainQueue& mainQueue, AudioServer& server, DefaultsStore& defaults,
                                   AppActivation& activation, std::shared_ptr<Updater> updater)
    : mainQueue_(mainQueue),
      server_(server),
      defaults_(defaults),
      activation_(activation),
      updater_(std::move(updater)) {}

std::shared_ptr<UpdateController> UpdateController::create(MainQueue& mainQueue, AudioServer& server,
                                                           DefaultsStore& defaults, AppActivation& activation,
                                                           std::shared_ptr<Updater> updater) {
    std::shared_ptr<UpdateController> controller(
        new UpdateController(mainQueue, server, defaults, activation, std::move(updater)));
    controller->startUpdater();
    return controller;
}

UpdateController::~UpdateController() { disarmWatchers(); }

void UpdateController::startUpdater() {
    bridge_ = std::make_shared<Bridge>(mainQueue_, weak_from_this());
    updater_->setDelegate(bridge_);
    updater_->setAutomaticallyChecksForUpdates(true);
    // Only a first launch switches downloads on; a later choice by the user stays in force.
    if (!defaults_.object(kAutomaticallyUpdateKey)) updater_->setAutomaticallyDownloadsUpdates(true);
    try {
        updater_->start();
    } catch (const std::exception&) {
        // The agent runs on without updates; the next launch tries again.
    }
}

void UpdateController::checkForUpdates() {
    if (relaunchHandler_) {
        install();
        return;
    }
    updater_->checkForUpdates();
}

bool UpdateController::automaticallyDownloadsUpdates() const { return updater_->automaticallyDownloadsUpdates(); }

void UpdateController::setAutomaticallyDownloadsUpdates(bool on) { updater_->setAutomaticallyDownloadsUpdates(on); }

void UpdateController::foundUpdate(const std::string& version) {
    log().notice(strprintf("update available: %s", version.c_str()));
    setAvailableVersion(version);
}

void UpdateController::noUpdateFound(const std::string&) {
    log().notice("up to date");
    setAvailableVersion(std::nullopt);
}

void UpdateController::updateCycleFailed(const std::string& description) {
    log().error(strprintf("update cycle failed: %s", description.c_str()));
    if (!isRelaunchingForUpdate() || !relaunchHandler_) return;
    // The install itself failed: the agent carries on as it was (and shuts down normally when
    // it quits); the next check stages the update again.
    setRelaunchingForUpdate(false);
    relaunchHandler_ = nullptr;
    stagedVersion_.reset();
    changed();
}

void UpdateController::setAvailableVersion(std::optional<std::string> version) {
    if (version == availableVersion_) return;
    availableVersion_ = std::move(version);
    changed();
}

void UpdateController::stage(const std::string& version, std::function<void()> installNow) {
    log().notice(strprintf("update staged: %s", version.c_str()));
    relaunchHandler_ = std::move(installNow);
    stagedVersion_ = version;
    changed();
    if (!tryToInstall()) armWatchers();
}

bool UpdateController::tryToInstall() {
    if (!relaunchHandler_ || isRelaunchingForUpdate()) return false;
    if (activation_.isActive()) return false;
    if (isDefaultOutputRunning()) return false;
    install();
    return true;
}

void UpdateController::install() {
    // The handler quits and relaunches; a second call while that is under way would install twice.
    if (isRelaunchingForUpdate()) return;
    setRelaunchingForUpdate(true);
    disarmWatchers();
    // The handler quits the process; keep it alive while it runs.
    auto handler = relaunchHandler_;
    if (handler) handler();
}

bool UpdateController::isDefaultOutputRunning() const {
    try {
        const DeviceReader devices(server_);
        return devices.isRunningSomewhere(devices.defaultDevice(AudioDirection::output));
    } catch (const HALError&) {
        // An unreadable device must never hold an update back forever.
        return false;
    }
}

void UpdateController::armWatchers() {
    std::weak_ptr<UpdateController> weak = weak_from_this();
    if (!resignObserver_) {
        resignObserver_ = activation_.addResignActiveObserver([weak] {
            if (auto self = weak.lock()) self->tryToInstall();
        });
    }
    watchRunningState();
    defaultDeviceListener_.reset();
    defaultDeviceListener_ = DeviceReader(server_).watchDefaultDevice(AudioDirection::output, mainQueue_, [weak] {
        auto self = weak.lock();
        if (!self || !self->defaultDeviceListener_) return;
        self->watchRunningState();
        self->tryToInstall();
    });
    if (!isRetryRunning()) scheduleRetry();
}

void UpdateController::watchRunningState() {
    runningListener_.reset();
    watchedDevice_ = 0;
    const DeviceReader devices(server_);
    try {
        watchedDevice_ = devices.defaultDevice(AudioDirection::output);
    } catch (const HALError&) {
        return;
    }
    if (watchedDevice_ == kAudioObjectUnknown) return;
    std::weak_ptr<UpdateController> weak = weak_from_this();
    runningListener_ = devices.watchRunningSomewhere(watchedDevice_, mainQueue_, [weak] {
        auto self = weak.lock();
        if (self && self->runningListener_) self->tryToInstall();
    });
}

void UpdateController::scheduleRetry() {
    std::weak_ptr<UpdateController> weak = weak_from_this();
    retryTask_ = mainQueue_.postAfter(kRetryInterval, [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (!self->tryToInstall() && self->relaunchHandler_ && !isRelaunchingForUpdate()) self->scheduleRetry();
    });
}

void UpdateController::disarmWatchers() {
    if (resignObserver_) activation_.removeObserver(*resignObserver_);
    resignObserver_.reset();
    runningListener_.reset();
    defaultDeviceListener_.reset();
    watchedDevice_ = 0;
    retryTask_.cancel();
    retryTask_ = TaskHandle();
}

bool UpdateController::areWatchersArmed() const {
    return resignObserver_.has_value() || runningListener_ || defaultDeviceListener_ || isRetryRunning();
}

void UpdateController::changed() {
    if (onChange_) onChange_();
}

} // namespace orevant
