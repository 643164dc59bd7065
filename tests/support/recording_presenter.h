#pragma once
// Counts what the permission window asks of its presenter.
#include "app/permission_window.h"

namespace orevant::test {

class RecordingPresenter final : public PermissionWindow::Presenter {
public:
    void show() override { ++shows; }
    void close() override { ++closes; }
    int shows = 0;
    int closes = 0;
};

} // namespace orevant::test
