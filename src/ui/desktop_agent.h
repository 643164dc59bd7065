#pragma once
// The agent on the desktop: the same agent as the headless run, carried by the Qt event loop,
// with the tray icon, the mixer, console and settings windows and the permission window. Where
// no tray exists, the mixer opens as a window at start and stderr says why.
//
// With OREVANT_SCREENSHOTS set to a folder, the agent saves its three windows there as
// mixer.png, console.png and settings.png a few seconds after start (OREVANT_SCREENSHOT_DELAY,
// 1 to 60 s, default 3), and quits. Benchmarks set OREVANT_DESKTOP_WINDOWS to "mixer" (the mixer
// open at start) or "none" (no window and no tray icon).
//
// Main thread: run() carries the event loop until the agent ends.
#include "app/command_line.h"

#include <string>

namespace orevant {

class SignalWatcher;

class DesktopAgent {
public:
    // A display the desktop can open: a Wayland socket that exists, or an X display whose local
    // socket exists (or one on another host, as ssh forwards it). A stale DISPLAY left in an
    // environment would otherwise end the process as Qt fails to connect.
    static bool hasDisplay(const char* display, const char* waylandDisplay, const char* runtimeDir);
    static bool hasDisplay();

    // Returns the process's exit status. `signals` is already watching, as for the headless run.
    static int run(int argc, char** argv, const CommandLineOptions& options, SignalWatcher& signals);
};

} // namespace orevant
