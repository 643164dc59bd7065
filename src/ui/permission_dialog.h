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
