#include "app/command_line.h"

#include "remote/osc_ports.h"

#include <CLI/CLI.hpp>

#include <sstream>

namespace orevant {

std::variant<CommandLineOptions, CommandLine::Exit> CommandLine::parse(int argc, const char* const* argv) {
    CLI::App app{"OREVANT: per-application volume, MAIN and PHONES buses with a cue, scenes, panic, meters,\n"
                 "multitrack recording, and remote control from a phone over OSC (UDP port " +
                     std::to_string(kCompanionCommandPort) +
                     ", with the\n"
                     "pairing PIN the agent prints). It runs on the desktop's PipeWire audio server, or on a\n"
                     "simulated one: a built-in scenario of devices and playing applications, or one of your own.",
                 "orevant"};
    CommandLineOptions options;
    std::string scenario;
    std::string trace;
    std::string backend = "auto";
    app.set_version_flag("--version", std::string("orevant ") + OREVANT_VERSION, "Print the version and exit");
    app.add_flag("--headless", options.headless,
                 "Run the agent without any window: a live view on the terminal instead (the desktop\n"
                 "front end comes later; without it the agent always runs headless)");
    app.add_option("--backend", backend,
                   "Audio server: auto (PipeWire when one answers, else the simulated demo world),\n"
                   "pipewire, or sim")
        ->check(CLI::IsMember({"auto", "pipewire", "sim"}));
    app.add_option("--scenario", scenario,
                   "Simulated audio system from this JSON file (devices, applications, processes, Bluetooth\n"
                   "devices, MIDI sources, timed events) instead of the built-in one; implies --backend sim")
        ->check(CLI::ExistingFile);
    app.add_flag("--quiet,-q", options.quiet, "No live view; log lines only");
    app.add_option("--latency-trace", trace,
                   "Benchmarks: for every OSC volume change, write a line with the time the simulated\n"
                   "output first carried it");
    app.add_option("--web-port", options.webPort,
                   "TCP port of the web companion (http://<host>:9080/ by default); 0 turns it off")
        ->check(CLI::Range(0, 65535));
    app.add_flag("--reissue-pin", options.reissuePIN,
                 "Make the running agent choose a new pairing PIN (every web companion session ends), then exit");
    std::ostringstream out, err;
    try {
        std::vector<std::string> args;
        for (int i = argc - 1; i > 0; --i) args.emplace_back(argv[i]);
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return Exit{status, status == 0 ? out.str() : err.str()};
    }
    if (!scenario.empty()) options.scenarioFile = scenario;
    options.backend = backend == "pipewire" ? AudioBackendChoice::pipewire
                      : backend == "sim"    ? AudioBackendChoice::sim
                                            : AudioBackendChoice::automatic;
    if (options.scenarioFile) {
        if (options.backend == AudioBackendChoice::pipewire)
            return Exit{
                2, "orevant: --scenario describes a simulated audio system; it cannot run on --backend pipewire\n"};
        options.backend = AudioBackendChoice::sim;
    }
    if (!trace.empty()) options.latencyTrace = trace;
    return options;
}

} // namespace orevant
