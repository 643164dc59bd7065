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
    struct Options {
        // The folder to save the windows in, `screenshotDelay` seconds after start, then quit.
        std::optional<std::filesystem::path> screenshots;
        double screenshotDelay = 3.0;
        // Benchmarks: the mixer shown at start (true) or no window at all (false), tray or not.
        std::optional<bool> showMixer;
    };

    explicit DesktopFrontEnd(Options options);
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
    Options options_;
    std::shared_ptr<PermissionDialog> permission_;
    OREVANTApp* app_ = nullptr;
    DefaultsStore* defaults_ = nullptr;
    std::unique_ptr<MixerWindow> mixer_;
    std::unique_ptr<ConsoleWindow> console_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<Tray> tray_;
};

} // namespace orevant
