#pragma once
// The system-tray entries (StatusNotifierItem or XEmbed, whichever the desktop offers): the
// agent's icon, whose left click opens the mixer and whose right click opens the status menu
// built from its model at each opening, and, while a take runs, the recording indicator as an
// entry of its own with its "Recording — mm:ss" menu. GUI thread only.
#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>

namespace orevant {

class OREVANTApp;

class Tray {
public:
    // `openMixer` gets the icon's place on screen (empty when the desktop does not say).
    Tray(OREVANTApp& app, std::function<void(QRect)> openMixer);
    ~Tray();
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    // The icons drawn here, so a bare machine shows them too.
    static QIcon agentIcon();
    static QIcon recordingIcon();

private:
    void rebuildStatusMenu();
    void updateRecordingIndicator();
    void rebuildRecordingMenu();

    OREVANTApp& app_;
    std::function<void(QRect)> openMixer_;
    QMenu statusMenu_;
    QSystemTrayIcon icon_;
    QMenu recordingMenu_;
    QSystemTrayIcon recordingIcon_;
};

} // namespace orevant
