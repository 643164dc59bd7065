#include "ui/tray.h"

#include "app/orevant_app.h"
#include "engine/recording_indicator.h"

#include <QPainter>

namespace orevant {

QIcon Tray::agentIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(70, 70, 70), 5, Qt::SolidLine, Qt::RoundCap));
    const int xs[] = {14, 32, 50};
    const int knobs[] = {40, 20, 32};
    for (int i = 0; i < 3; ++i) painter.drawLine(xs[i], 8, xs[i], 56);
    painter.setBrush(QColor(40, 140, 220));
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) painter.drawRoundedRect(xs[i] - 9, knobs[i] - 5, 18, 10, 3, 3);
    return QIcon::fromTheme("orevant", QIcon(pixmap));
}

QIcon Tray::recordingIcon() {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(210, 40, 40));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(32, 32), 20, 20);
    return QIcon(pixmap);
}

Tray::Tray(OREVANTApp& app, std::function<void(QRect)> openMixer) : app_(app), openMixer_(std::move(openMixer)) {
    icon_.setIcon(agentIcon());
    icon_.setToolTip("OREVANT");
    icon_.setContextMenu(&statusMenu_);
    QObject::connect(&statusMenu_, &QMenu::aboutToShow, &statusMenu_, [this] { rebuildStatusMenu(); });
    QObject::connect(&icon_, &QSystemTrayIcon::activated, &statusMenu_, [this](QSystemTrayIcon::ActivationReason why) {
        if (why == QSystemTrayIcon::Trigger && openMixer_) openMixer_(icon_.geometry());
    });
    rebuildStatusMenu();
    icon_.show();

    recordingIcon_.setIcon(recordingIcon());
    recordingIcon_.setToolTip(RecordingIndicator::kToolTip);
    recordingIcon_.setContextMenu(&recordingMenu_);
    QObject::connect(&recordingMenu_, &QMenu::aboutToShow, &recordingMenu_, [this] {
        if (RecordingIndicator* indicator = app_.recordingIndicator()) indicator->menuWillOpen();
        rebuildRecordingMenu();
    });
    if (RecordingIndicator* indicator = app_.recordingIndicator()) {
        indicator->onChange = [this] { updateRecordingIndicator(); };
    }
    updateRecordingIndicator();
}

Tray::~Tray() {
    if (RecordingIndicator* indicator = app_.recordingIndicator()) indicator->onChange = nullptr;
}

void Tray::rebuildStatusMenu() {
    statusMenu_.clear();
    StatusItemMenuController& model = app_.statusMenu();
    for (const StatusItemMenuController::MenuItem& item : model.buildMenu()) {
        if (item.isSeparator) {
            statusMenu_.addSeparator();
            continue;
        }
        QAction* action = statusMenu_.addAction(QString::fromStdString(item.title));
        action->setEnabled(item.isEnabled);
        if (item.isChecked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        if (!item.keyEquivalent.empty()) {
            action->setShortcut(QKeySequence(QString("Ctrl+") + QString::fromStdString(item.keyEquivalent).toUpper()));
        }
        const auto what = item.action;
        QObject::connect(action, &QAction::triggered, &statusMenu_, [this, what] { app_.statusMenu().perform(what); });
    }
}

void Tray::updateRecordingIndicator() {
    RecordingIndicator* indicator = app_.recordingIndicator();
    recordingIcon_.setVisible(indicator && indicator->isShown());
    rebuildRecordingMenu();
}

void Tray::rebuildRecordingMenu() {
    recordingMenu_.clear();
    RecordingIndicator* indicator = app_.recordingIndicator();
    if (!indicator) return;
    for (const RecordingIndicator::MenuItem& item : indicator->menu()) {
        if (item.isSeparator) {
            recordingMenu_.addSeparator();
            continue;
        }
        QAction* action = recordingMenu_.addAction(QString::fromStdString(item.title));
        action->setEnabled(item.isEnabled || item.title == RecordingIndicator::kStopTitle);
        if (item.title == RecordingIndicator::kStopTitle) {
            QObject::connect(action, &QAction::triggered, &recordingMenu_, [this] {
                if (RecordingIndicator* ri = app_.recordingIndicator()) ri->stopRecording();
            });
        }
    }
}

} // namespace orevant
