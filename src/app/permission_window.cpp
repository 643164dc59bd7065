#include "app/permission_window.h"

namespace orevant {

PermissionWindow::PermissionWindow(MainQueue& mainQueue, Flag flag, std::shared_ptr<Presenter> presenter)
    : mainQueue_(mainQueue), flag_(std::move(flag)), presenter_(std::move(presenter)) {
    lastValue_ = flag_.read();
    auto update = guard_.wrap([this] { this->update(); });
    token_ = flag_.observe(guard_.wrap([this, update] {
        const bool value = flag_.read();
        if (value == lastValue_) return;
        lastValue_ = value;
        mainQueue_.post(update);
    }));
    mainQueue_.post(update);
}

PermissionWindow::~PermissionWindow() {
    guard_.end();
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
