#include "ui/device_row.h"

#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>
#include <cctype>

namespace orevant {

std::string DeviceRow::symbol(const AudioDevice& device) {
    std::string name = device.name;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (device.isBluetooth()) {
        return name.find("bud") != std::string::npos || name.find("pod") != std::string::npos ? "airpodspro"
                                                                                              : "headphones";
    }
    if (device.outputDataSource == fourcc("hdpn") || name.find("headphone") != std::string::npos) return "headphones";
    if (device.transport == transport::usb || device.outputChannels > 2) return "cable.connector";
    if (device.transport == transport::builtIn) return "laptopcomputer";
    return "hifispeaker.fill";
}

DeviceRow::DeviceRow(const AudioDevice& device, bool isDefault, QWidget* parent) : QWidget(parent), uid_(device.uid) {
    setAttribute(Qt::WA_StyledBackground);
    setCursor(Qt::OpenHandCursor);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 3, 6, 3);
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(symbol(device)).pixmap(18, 18));
    layout->addWidget(icon);
    auto* name = new QLabel(QString::fromStdString(device.name), this);
    name->setTextFormat(Qt::PlainText); // the audio server's name for it
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    if (isDefault) {
        QFont bold = name->font();
        bold.setBold(true);
        name->setFont(bold);
    }
    layout->addWidget(name, 1);
    if (isDefault) layout->addWidget(new QLabel("\u2713", this));
    setToolTip(isDefault ? "Default device" : "Click to make this the default; drag onto an app to play it here");
}

void DeviceRow::setHighlighted(bool on) {
    setStyleSheet(on ? "background: palette(highlight); color: palette(highlighted-text);" : "");
}

QPoint DeviceRow::inWindow(QMouseEvent* event) const { return mapTo(window(), event->position().toPoint()); }

void DeviceRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressed_ = true;
    if (onPress) onPress(uid_, inWindow(event));
}

void DeviceRow::mouseMoveEvent(QMouseEvent* event) {
    if (pressed_ && onMove) onMove(inWindow(event));
}

void DeviceRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) return QWidget::mouseReleaseEvent(event);
    pressed_ = false;
    if (onRelease) onRelease(inWindow(event));
}

} // namespace orevant
