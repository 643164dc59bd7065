#pragma once
// The whole agent without a window, on PipeWire (with the desktop's applications, ALSA MIDI) or
// on the simulated audio server (the built-in scenario or a scenario file), chosen by --backend;
// the real OSC listener on UDP 9000, real takes and a real defaults file. Prints
// where the companion should send and the pairing PIN, shows a live view on a terminal, and ends
// cleanly on SIGINT, SIGTERM or SIGHUP.
//
// Main thread: run() carries the main queue until the agent ends.
#include "app/command_line.h"

#include <string>
#include <vector>

namespace orevant {

class AgentFrontEnd;
class SignalWatcher;

class HeadlessAgent {
public:
    // Returns the process's exit status. `signals` is already watching: while the agent runs,
    // a termination signal quits it cleanly; before and after, the watcher's own callback
    // stays in charge. With a front end, that front end carries the main queue and shows the
    // agent instead of the terminal's live view.
    static int run(const CommandLineOptions& options, SignalWatcher& signals, AgentFrontEnd* frontEnd = nullptr);

    // The companion line: port, this computer's IPv4 addresses, and the PIN. While the port is
    // `busy` (held by another program) it says so, and that listening starts once it is free.
    static std::string companionLine(uint16_t port, const std::vector<std::string>& addresses, const std::string& pin,
                                     bool busy = false);
    // Where to point a browser for the web companion: one address per IPv4 address.
    static std::string webCompanionLine(uint16_t port, const std::vector<std::string>& addresses);
    // The IPv4 addresses of the interfaces that are up, loopback last.
    static std::vector<std::string> localAddresses();
};

} // namespace orevant
