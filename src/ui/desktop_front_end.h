#pragma once
// The desktop's side of the agent's run: the Qt main queue, the windows, the tray and the
// permission window, made once the engine started and gone before it.
//
// Main thread (the Qt event loop) only.
#include "app/agent_front_end.h"
#include "ui/qt_main_queue.h"

#include <QRect>
#include <filesystem>
#include <memory>
#include <optional>

namespace orevant {

class ConsoleWindow;
class MixerWindow;
class PermissionDialog;
class SettingsWindow;
class Tray;

class DesktopFrontEnd final : public AgentFrontEnd {
public:
    // `screenshots`: the folder to save the windows in, `delaySeconds` after start, then quit.
    explicit DesktopFrontEnd(std::optional<std::filesystem::path> screenshots = std::nullopt,
                             double delaySeconds = 3.0);
    ~DesktopFrontEnd() override;

    MainQueue& mainQueue() override { return queue_; }
    void run() override { queue_.run(); }
    void stop() override { queue_.stop(); }
    std::shared_ptr<PermissionWindow::Presenter> permissionPresenter() override;
    void configure(OREVANTApp::Shell& shell, AppActivationState& activation) override;
    void started(OREVANTApp& app, DefaultsStore& defaults) override;
    void finished() override;

private:
    void openMixer(QRect near);
    void showConsole();
    void showSettings();
    void saveScreenshots();

    QtMainQueue queue_;
    std::optional<std::filesystem::path> screenshots_;
    double screenshotDelay_;
    std::shared_ptr<PermissionDialog> permission_;
    OREVANTApp* app_ = nullptr;
    DefaultsStore* defaults_ = nullptr;
    std::unique_ptr<MixerWindow> mixer_;
    std::unique_ptr<ConsoleWindow> console_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<Tray> tray_;
};

} // namespace orevant
