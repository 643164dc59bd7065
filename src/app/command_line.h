#pragma once
// The orevant program's command line.
#include <optional>
#include <string>
#include <variant>

namespace orevant {

struct CommandLineOptions {
    bool headless = false;
    std::optional<std::string> scenarioFile;
    bool quiet = false;
    // Benchmarks: where to write, for every OSC volume change, when the simulated output first
    // carried it.
    std::optional<std::string> latencyTrace;
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
