#pragma once
// What a front end gives the agent's run: the main queue it carries, the permission prompt's
// window and the status menu's hooks, and the windows once the engine started. The headless
// run has none (a run loop, the terminal); the desktop's is Qt.
//
// Threads: main queue only, except mainQueue().post from any thread.
#include "app/orevant_app.h"
#include "app/permission_window.h"

#include <memory>

namespace orevant {

class AppActivationState;
class DefaultsStore;
class MainQueue;

class AgentFrontEnd {
public:
    virtual ~AgentFrontEnd() = default;

    virtual MainQueue& mainQueue() = 0;
    // Carries the main queue until stop().
    virtual void run() = 0;
    virtual void stop() = 0;

    virtual std::shared_ptr<PermissionWindow::Presenter> permissionPresenter() = 0;
    // Fills the status menu's hooks (quit is already set) and keeps `activation` current.
    virtual void configure(OREVANTApp::Shell& shell, AppActivationState& activation) = 0;
    // The engine started: the front end shows itself.
    virtual void started(OREVANTApp& app, DefaultsStore& defaults) = 0;
    // Before the application object goes.
    virtual void finished() = 0;
};

} // namespace orevant
