#include "ui/desktop_agent.h"

#include "app/headless_agent.h"
#include "ui/desktop_front_end.h"

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace orevant {

bool DesktopAgent::hasDisplay(const char* display, const char* waylandDisplay, const char* runtimeDir) {
    std::error_code error;
    if (waylandDisplay && *waylandDisplay) {
        const std::filesystem::path socket(waylandDisplay);
        if (socket.is_absolute() ? std::filesystem::exists(socket, error)
                                 : runtimeDir && *runtimeDir && std::filesystem::exists(runtimeDir / socket, error)) {
            return true;
        }
    }
    if (!display || !*display) return false;
    const std::string text(display);
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    const std::string host = text.substr(0, colon);
    if (!host.empty() && host != "unix") return true; // over the network: Qt finds out
    const std::string number = text.substr(colon + 1, text.find('.', colon) - colon - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::filesystem::exists("/tmp/.X11-unix/X" + number, error);
}

bool DesktopAgent::hasDisplay() {
    return hasDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_RUNTIME_DIR"));
}

int DesktopAgent::run(int argc, char** argv, const CommandLineOptions& options, SignalWatcher& signals) {
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
    return HeadlessAgent::run(options, signals, &frontEnd);
}

} // namespace orevant
