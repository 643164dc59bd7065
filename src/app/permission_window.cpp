#include "app/permission_window.h"

namespace orevant {

PermissionWindow::PermissionWindow(MainQueue& mainQueue, Flag flag, std::shared_ptr<Presenter> presenter)
    : mainQueue_(mainQueue), flag_(std::move(flag)), presenter_(std::move(presenter)) {
    std::weak_ptr<char> alive = alive_;
    lastValue_ = flag_.read();
    token_ = flag_.observe([this, alive] {
        if (alive.expired()) return;
        const bool value = flag_.read();
        if (value == lastValue_) return;
        lastValue_ = value;
        mainQueue_.post([this, alive] {
            if (!alive.expired()) update();
        });
    });
    mainQueue_.post([this, alive] {
        if (!alive.expired()) update();
    });
}

PermissionWindow::~PermissionWindow() {
    alive_.reset();
    token_.reset();
}

void PermissionWindow::update() {
    if (!flag_.read()) {
        close();
        return;
    }
    if (shownThisLaunch_) return;
    shownThisLaunch_ = true;
    isOpen_ = true;
    if (presenter_) presenter_->show();
}

void PermissionWindow::close() {
    if (!isOpen_) return;
    isOpen_ = false;
    if (presenter_) presenter_->close();
}

void PermissionWindow::openPrivacySettings(const std::function<void(const std::string&)>& openURL) {
    if (openURL) openURL(kSettingsURL);
    close();
}

} // namespace orevant
