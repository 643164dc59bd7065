#include "ui/desktop_front_end.h"

#include "app/app_activation_state.h"
#include "app/update_controller.h"
#include "engine/mixer_engine.h"
#include "ui/console_window.h"
#include "ui/mixer_window.h"
#include "ui/permission_dialog.h"
#include "ui/settings_window.h"
#include "ui/tray.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <cstdio>

namespace orevant {

DesktopFrontEnd::DesktopFrontEnd(Options options)
    : options_(std::move(options)), permission_(std::make_shared<PermissionDialog>()) {}

DesktopFrontEnd::~DesktopFrontEnd() { finished(); }

std::shared_ptr<PermissionWindow::Presenter> DesktopFrontEnd::permissionPresenter() { return permission_; }

void DesktopFrontEnd::configure(OREVANTApp::Shell& shell, AppActivationState& activation) {
    shell.menuHooks.copyToPasteboard = [](const std::string& text) {
        QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    };
    shell.menuHooks.openURL = [](const std::string& url) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    };
    shell.menuHooks.postNotification = [this](const std::string& name) {
        if (name == StatusItemMenuController::kShowSettingsNotification) showSettings();
    };
    // Frontmost means one of the agent's windows is active (the update waits for that to end).
    AppActivationState* state = &activation;
    QObject::connect(qGuiApp, &QGuiApplication::applicationStateChanged, qGuiApp,
                     [state](Qt::ApplicationState now) { state->setActive(now == Qt::ApplicationActive); });
}

void DesktopFrontEnd::started(OREVANTApp& app, DefaultsStore& defaults) {
    app_ = &app;
    defaults_ = &defaults;
    MixerEngine& engine = app.engine();
    mixer_ = std::make_unique<MixerWindow>(engine, queue_, &app.updater());
    mixer_->onOpenConsole = [this] { showConsole(); };
    mixer_->onShowPermissionHelp = [this] { permission_->show(); };
    app.updater().setOnChange([this] {
        if (mixer_) mixer_->scheduleRefresh();
    });
    permission_->onDismissed = [this] {
        if (app_ && app_->permissionWindow()) app_->permissionWindow()->close();
    };

    if (options_.screenshots) {
        queue_.postAfter(options_.screenshotDelay, [this] { saveScreenshots(); });
        mixer_->resize(380, 760);
        mixer_->show();
        showConsole();
        showSettings();
        return;
    }
    if (options_.showMixer) {
        if (*options_.showMixer) mixer_->show();
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = std::make_unique<Tray>(app, [this](QRect near) { openMixer(near); });
    } else {
        std::fprintf(stderr, "orevant: this desktop shows no system tray; the mixer opens as a window instead "
                             "(closing it keeps the agent running; Ctrl-C or the session's end stops it)\n");
        mixer_->show();
    }
}

void DesktopFrontEnd::openMixer(QRect near) {
    if (mixer_->isVisible()) {
        mixer_->hide();
        return;
    }
    if (near.isValid() && !near.isEmpty()) {
        // A popup beside the icon, on the side of the screen that has room.
        mixer_->setWindowFlags(Qt::Popup);
        const QScreen* screen = QGuiApplication::screenAt(near.center());
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
        const QSize size = mixer_->size();
        int x = std::clamp(near.center().x() - size.width() / 2, area.left(), area.right() - size.width());
        int y = near.bottom() + size.height() < area.bottom() ? near.bottom() + 4 : near.top() - size.height() - 4;
        mixer_->move(x, std::max(y, area.top()));
    } else {
        mixer_->setWindowFlags(Qt::Window);
    }
    mixer_->show();
    mixer_->raise();
    mixer_->activateWindow();
}

void DesktopFrontEnd::showConsole() {
    if (!app_) return;
    if (!console_) console_ = std::make_unique<ConsoleWindow>(app_->engine(), queue_, *defaults_);
    console_->show();
    console_->raise();
    console_->activateWindow();
}

void DesktopFrontEnd::showSettings() {
    if (!app_) return;
    if (!settings_) settings_ = std::make_unique<SettingsWindow>(app_->engine(), *defaults_);
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void DesktopFrontEnd::saveScreenshots() {
    std::error_code error;
    std::filesystem::create_directories(*options_.screenshots, error);
    const std::pair<QWidget*, const char*> windows[] = {
        {mixer_.get(), "mixer.png"}, {console_.get(), "console.png"}, {settings_.get(), "settings.png"}};
    int status = 0;
    for (const auto& [window, name] : windows) {
        const std::string path = (*options_.screenshots / name).string();
        if (!window || !window->grab().save(QString::fromStdString(path))) {
            std::fprintf(stderr, "orevant: cannot save %s\n", path.c_str());
            status = 1;
        } else {
            std::printf("Saved %s\n", path.c_str());
        }
    }
    std::fflush(stdout);
    if (status == 0 && app_)
        app_->statusMenu().perform(StatusItemMenuController::Action::quit);
    else
        QGuiApplication::exit(status);
}

void DesktopFrontEnd::finished() {
    tray_.reset();
    settings_.reset();
    console_.reset();
    mixer_.reset();
    if (app_) app_->updater().setOnChange({});
    app_ = nullptr;
}

} // namespace orevant
