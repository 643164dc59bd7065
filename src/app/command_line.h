#pragma once
// The orevant program's command line.
#include <optional>
#include <string>
#include <variant>

namespace orevant {

// Which audio server the agent runs on.
enum class AudioBackendChoice {
    automatic, // PipeWire when a server answers, else the simulated demo world
    pipewire,  // PipeWire or nothing
    sim,       // the simulated audio server (implied by --scenario)
};

struct CommandLineOptions {
    bool headless = false;
    AudioBackendChoice backend = AudioBackendChoice::automatic;
    std::optional<std::string> scenarioFile;
    bool quiet = false;
    // Benchmarks: where to write, for every OSC volume change, when the simulated output first
    // carried it.
    std::optional<std::string> latencyTrace;
    // TCP port of the web companion; 0 turns it off.
    int webPort = 9080;
    // Asks the running agent to make a new pairing PIN, then ends.
    bool reissuePIN = false;
};

class CommandLine {
public:
    // The program should end at once with this status, after printing `text` (to stdout when
    // the status is 0, else to stderr): --help, --version and mistakes.
    struct Exit {
        int status = 0;
        std::string text;
    };
    static std::variant<CommandLineOptions, Exit> parse(int argc, const char* const* argv);
};

} // namespace orevant
