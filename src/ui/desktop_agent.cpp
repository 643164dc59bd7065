#include "ui/desktop_agent.h"

#include "app/headless_agent.h"
#include "ui/desktop_front_end.h"

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace orevant {

int DesktopAgent::run(int argc, char** argv, const CommandLineOptions& options) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("OREVANT");
    QApplication::setDesktopFileName("orevant");
    // A resident agent: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    DesktopFrontEnd::Options desktop;
    if (const char* folder = std::getenv("OREVANT_SCREENSHOTS"); folder && *folder) desktop.screenshots = folder;
    if (const char* seconds = std::getenv("OREVANT_SCREENSHOT_DELAY")) {
        desktop.screenshotDelay = std::clamp(std::atof(seconds), 1.0, 60.0);
    }
    if (const char* windows = std::getenv("OREVANT_DESKTOP_WINDOWS")) {
        if (std::string_view(windows) == "mixer") desktop.showMixer = true;
        if (std::string_view(windows) == "none") desktop.showMixer = false;
    }
    DesktopFrontEnd frontEnd(std::move(desktop));
    return HeadlessAgent::run(options, &frontEnd);
}

} // namespace orevant
