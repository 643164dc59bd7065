#include "ui/desktop_agent.h"

#include "app/headless_agent.h"
#include "ui/desktop_front_end.h"

#include <QApplication>
#include <algorithm>
#include <cstdlib>

namespace orevant {

int DesktopAgent::run(int argc, char** argv, const CommandLineOptions& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("OREVANT");
    QApplication::setDesktopFileName("orevant");
    // A resident agent: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    std::optional<std::filesystem::path> screenshots;
    if (const char* folder = std::getenv("OREVANT_SCREENSHOTS"); folder && *folder) screenshots = folder;
    double delay = 3.0;
    if (const char* seconds = std::getenv("OREVANT_SCREENSHOT_DELAY"))
        delay = std::clamp(std::atof(seconds), 1.0, 60.0);
    DesktopFrontEnd frontEnd(screenshots, delay);
    return HeadlessAgent::run(options, &frontEnd);
}

} // namespace orevant
