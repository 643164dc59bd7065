#pragma once
// The agent as one object: it owns the recording indicator, the engine (with its companion
// bridge), the update controller, the status menu model and the permission prompt model, and
// runs the start-up of the agent in its order:
//   recording indicator made; engine, update controller and status menu made; engine made the
//   current one; the status item's monitor installed; the engine handed to the recording
//   indicator; the permission prompt made; then, on a background thread, one read
//   of the default output device (it wakes the audio server before the engine queries it)
//   followed by start() on the main queue.
// The single-instance check comes before all of this (SingleInstanceCheck, in main).
//
// Threads: everything on the main queue, except the wake-up read.
#include "app/app_delegate.h"
#include "app/permission_window.h"
#include "app/status_item_menu_controller.h"
#include "audio/observer_list.h"
#include "engine/services.h"
#include "platform/lifetime_guard.h"

#include <functional>
#include <memory>
#include <thread>

namespace orevant {

class AppActivation;
class AutostartEntry;
class MixerEngine;
class RecordingIndicator;
class UpdateController;
class Updater;

class OREVANTApp {
public:
    // What only the application shell uses, beside the services it builds the engine over.
    // Everything referenced must outlive the application object.
    struct Shell {
        AppActivation& activation;
        AutostartEntry& loginItem;
        std::shared_ptr<Updater> updater;
        std::shared_ptr<PermissionWindow::Presenter> permissionPresenter;
        StatusItemMenuController::AppInfo appInfo;
        StatusItemMenuController::Hooks menuHooks;
        // Runs on the main queue right after the engine started.
        std::function<void()> onStarted;
    };

    OREVANTApp(Services services, Shell shell);
    ~OREVANTApp();
    OREVANTApp(const OREVANTApp&) = delete;
    OREVANTApp& operator=(const OREVANTApp&) = delete;

    void launch();
    // Waits for the wake-up read to finish (its start() task is then on the main queue).
    void waitForWakeUpRead();
    // The terminate hook (quit, SIGINT, SIGTERM).
    void terminate();

    MixerEngine& engine() const { return *engine_; }
    UpdateController& updater() const { return *updater_; }
    StatusItemMenuController& statusMenu() const { return *statusMenu_; }
    PermissionWindow* permissionWindow() const { return permissionWindow_.get(); }
    RecordingIndicator* recordingIndicator() const { return recordingIndicator_.get(); }
    AppDelegate& appDelegate() { return appDelegate_; }
    bool isLaunched() const { return engine_ != nullptr; }

private:
    Services services_;
    Shell shell_;
    AppDelegate appDelegate_;
    std::unique_ptr<RecordingIndicator> recordingIndicator_;
    std::unique_ptr<MixerEngine> engine_;
    std::shared_ptr<UpdateController> updater_;
    std::unique_ptr<StatusItemMenuController> statusMenu_;
    std::unique_ptr<PermissionWindow> permissionWindow_;
    std::thread wakeUp_;
    LifetimeGuard guard_;
};

} // namespace orevant
