#include "ui/permission_dialog.h"

#include "ui/symbols.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace orevant {

PermissionDialog::PermissionDialog() = default;

PermissionDialog::~PermissionDialog() {
    if (dialog_) delete dialog_.data();
}

bool PermissionDialog::openSoundSettings() {
    const std::pair<const char*, QStringList> candidates[] = {
        {"gnome-control-center", {"sound"}},
        {"systemsettings", {"kcm_pulseaudio"}},
        {"pavucontrol", {}},
    };
    for (const auto& [program, arguments] : candidates) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty() && QProcess::startDetached(path, arguments)) return true;
    }
    return false;
}

void PermissionDialog::show() {
    if (!dialog_) {
        auto* dialog = new QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        dialog->setWindowTitle(PermissionWindow::kWindowTitle);
        dialog->setFixedWidth(460);
        auto* layout = new QVBoxLayout(dialog);
        auto* top = new QHBoxLayout;
        auto* icon = new QLabel(dialog);
        icon->setPixmap(Symbols::icon(PermissionWindow::kBannerSymbol).pixmap(32, 32));
        top->addWidget(icon, 0, Qt::AlignTop);
        auto* heading = new QLabel(PermissionWindow::kHeading, dialog);
        QFont bold = heading->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
        heading->setFont(bold);
        heading->setWordWrap(true);
        top->addWidget(heading, 1);
        layout->addLayout(top);
        for (const char* text : {PermissionWindow::kBody, PermissionWindow::kInstruction}) {
            auto* label = new QLabel(text, dialog);
            label->setWordWrap(true);
            layout->addWidget(label);
        }
        auto* buttons = new QDialogButtonBox(dialog);
        QPushButton* notNow = buttons->addButton(PermissionWindow::kNotNowButton, QDialogButtonBox::RejectRole);
        QPushButton* open = buttons->addButton(PermissionWindow::kOpenSettingsButton, QDialogButtonBox::AcceptRole);
        open->setDefault(true);
        (void)notNow;
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog] {
            openSoundSettings();
            dialog->reject();
        });
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
        QObject::connect(dialog, &QDialog::rejected, dialog, [this] {
            if (onDismissed) onDismissed();
        });
        layout->addWidget(buttons);
        dialog_ = dialog;
    }
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

void PermissionDialog::close() {
    if (dialog_ && dialog_->isVisible()) {
        const QSignalBlocker block(dialog_.data());
        dialog_->hide();
    }
}

bool PermissionDialog::isOpen() const { return dialog_ && dialog_->isVisible(); }

} // namespace orevant
