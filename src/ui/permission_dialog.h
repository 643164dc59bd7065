#pragma once
// The permission prompt's window on the desktop. On Linux no privacy switch guards other
// applications' audio; what the agent needs is to reach the PipeWire server and place its
// filters there, so the window says that and offers the desktop's sound settings.
// GUI thread only.
#include "app/permission_window.h"

#include <QPointer>
#include <functional>

class QDialog;

namespace orevant {

class PermissionDialog final : public PermissionWindow::Presenter {
public:
    static constexpr const char* kBody =
        "To set an app's volume, OREVANT passes that app's sound through a filter of its own on the PipeWire audio "
        "server. It could not place that filter, so until it can, the faders will not move anything.\n\nNothing is "
        "recorded unless you press REC, and no audio ever leaves this computer.";
    static constexpr const char* kInstruction =
        "Make sure PipeWire and WirePlumber run in your session (systemctl --user status pipewire wireplumber). "
        "If OREVANT runs in a sandbox such as Flatpak, allow it access to PipeWire, then reopen the app.";
    static constexpr const char* kOpenSettingsButton = "Open Sound Settings";

    PermissionDialog();
    ~PermissionDialog() override;

    void show() override;
    void close() override;
    bool isOpen() const;

    // "Not Now" or the close box: the model closes too.
    std::function<void()> onDismissed;

    // Starts the desktop's sound settings, the first one installed; false when none is.
    static bool openSoundSettings();

private:
    QPointer<QDialog> dialog_;
};

} // namespace orevant
