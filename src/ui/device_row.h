#pragma once
// One output or input device in the mixer's device list: its symbol and name, marked when it is
// the default. It reports the pointer in window coordinates; the mixer window decides what a
// click, a vertical drag or a drop on another row means. GUI thread only.
#include "audio/audio_device.h"

#include <QWidget>
#include <functional>
#include <string>

namespace orevant {

class DeviceRow final : public QWidget {
public:
    // The symbol for a device, from its transport type, data source and name.
    static std::string symbol(const AudioDevice& device);

    DeviceRow(const AudioDevice& device, bool isDefault, QWidget* parent = nullptr);

    const std::string& uid() const { return uid_; }
    void setHighlighted(bool on);

    // Pointer positions in the coordinates of the row's window.
    std::function<void(const std::string& uid, QPoint)> onPress;
    std::function<void(QPoint)> onMove;
    std::function<void(QPoint)> onRelease;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPoint inWindow(QMouseEvent* event) const;

    std::string uid_;
    bool pressed_ = false;
};

} // namespace orevant
