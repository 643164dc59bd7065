#pragma once
// The whole agent without a window, on PipeWire (with the desktop's applications, ALSA MIDI) or
// on the simulated audio server (the built-in scenario or a scenario file), chosen by --backend;
// the real OSC listener on UDP 9000, real takes and a real defaults file. Prints
// where the companion should send and the pairing PIN, shows a live view on a terminal, and ends
// cleanly on SIGINT or SIGTERM.
//
// Main thread: run() carries the main queue until the agent ends.
#include "app/command_line.h"

#include <string>
#include <vector>

namespace orevant {

class AgentFrontEnd;

class HeadlessAgent {
public:
    // Returns the process's exit status. With a front end, that front end carries the main
    // queue and shows the agent instead of the terminal's live view.
    static int run(const CommandLineOptions& options, AgentFrontEnd* frontEnd = nullptr);

    // The companion line: port, this computer's IPv4 addresses, and the PIN.
    static std::string companionLine(uint16_t port, const std::vector<std::string>& addresses, const std::string& pin);
    // The IPv4 addresses of the interfaces that are up, loopback last.
    static std::vector<std::string> localAddresses();
};

} // namespace orevant
