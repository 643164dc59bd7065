#include "app/builtin_scenario.h"
#include "app/command_line.h"
#include "app/headless_agent.h"
#include "platform/sim/sim_scenario.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

namespace orevant {
namespace {

std::variant<CommandLineOptions, CommandLine::Exit> parse(std::vector<const char*> args) {
    args.insert(args.begin(), "orevant");
    return CommandLine::parse(static_cast<int>(args.size()), args.data());
}

// Faults caught: a switch read into the wrong option, --scenario not implying the simulated
// server, a mistake or a help request that goes on to start the agent.
TEST(CommandLineTest, OptionsAreReadAndHelpVersionAndMistakesEndTheProgram) {
    test::TempDir dir;
    const std::string scenario = (dir / "s.json").string();
    std::ofstream(scenario) << "{}";
    using B = AudioBackendChoice;
    const int port = CommandLineOptions{}.webPort;
    struct Case {
        std::vector<const char*> args;
        bool headless, quiet, reissuePIN;
        B backend;
        int webPort;
        std::optional<std::string> scenario, trace;
    };
    const Case cases[] = {
        {{}, false, false, false, B::automatic, port, {}, {}},
        {{"--backend", "pipewire", "--web-port", "0"}, false, false, false, B::pipewire, 0, {}, {}},
        {{"--backend", "sim", "--reissue-pin"}, false, false, true, B::sim, port, {}, {}},
        {{"--headless", "-q", "--scenario", scenario.c_str(), "--latency-trace", "/tmp/t"},
         true,
         true,
         false,
         B::sim,
         port,
         scenario,
         "/tmp/t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no arguments" : c.args[0]);
        auto parsed = parse(c.args);
        ASSERT_TRUE(std::holds_alternative<CommandLineOptions>(parsed));
        const auto& o = std::get<CommandLineOptions>(parsed);
        EXPECT_EQ(std::tie(o.headless, o.quiet, o.reissuePIN, o.backend, o.webPort, o.scenarioFile, o.latencyTrace),
                  std::tie(c.headless, c.quiet, c.reissuePIN, c.backend, c.webPort, c.scenario, c.trace));
    }

    struct Ending {
        std::vector<const char*> args;
        bool success;
        std::string said; // part of what is printed
    };
    const Ending endings[] = {
        {{"--version"}, true, std::string("orevant ") + OREVANT_VERSION + "\n"},
        {{"--help"}, true, "--latency-trace"},
        {{"--bogus"}, false, "--bogus"},
        {{"--scenario", "/nonexistent/scenario.json"}, false, "/nonexistent/scenario.json"},
        {{"--scenario"}, false, "--scenario"},
        {{"--backend", "coreaudio"}, false, "coreaudio"},
        {{"--web-port", "70000"}, false, "--web-port"},
        {{"--backend", "pipewire", "--scenario", scenario.c_str()}, false, "cannot run on --backend pipewire"},
    };
    for (const Ending& e : endings) {
        SCOPED_TRACE(e.args[0]);
        auto parsed = parse(e.args);
        ASSERT_TRUE(std::holds_alternative<CommandLine::Exit>(parsed));
        const auto& exit = std::get<CommandLine::Exit>(parsed);
        EXPECT_EQ(exit.status == 0, e.success);
        EXPECT_NE(exit.text.find(e.said), std::string::npos) << exit.text;
    }
}

// The built-in demo world must parse, with its default output among its devices and its MIDI source.
TEST(BuiltinScenarioTest, TheBuiltInWorldParsesWithItsDefaultOutputAndMIDISource) {
    const SimScenario scenario = SimScenario::parse(BuiltinScenario::text());
    ASSERT_TRUE(scenario.defaultOutput);
    bool found = false;
    for (const auto& device : scenario.devices) found |= device.spec.uid == *scenario.defaultOutput;
    EXPECT_TRUE(found);
    EXPECT_EQ(BuiltinScenario::midiSources(BuiltinScenario::text()).size(), 1u);
}

TEST(BuiltinScenarioTest, MIDISectionsAreCheckedAndOptional) {
    EXPECT_TRUE(BuiltinScenario::midiSources("{}").empty());
    const auto two = BuiltinScenario::midiSources(
        R"({"midi": {"sources": [{"name": "Pads", "hardware": true}, {"name": "Faders"}]}})");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_TRUE(two[0].isHardware);
    EXPECT_EQ(two[1].name, "Faders");
    EXPECT_THROW(BuiltinScenario::midiSources(R"({"midi": {"sources": [{"hardware": true}]}})"), std::runtime_error);
    EXPECT_THROW(BuiltinScenario::midiSources(R"({"midi": {"sources": {}}})"), std::runtime_error);
    EXPECT_THROW(BuiltinScenario::midiSources("not json"), std::runtime_error);
    // Fault: the list had no bound; each entry becomes a MIDI source.
    std::string many;
    for (size_t i = 0; i <= BuiltinScenario::kMaxMIDISources; ++i)
        many += (i ? "," : "") + std::string("{\"name\": \"x\"}");
    EXPECT_THROW(BuiltinScenario::midiSources("{\"midi\": {\"sources\": [" + many + "]}}"), std::runtime_error);
}

TEST(HeadlessAgentTest, TheCompanionLineNamesPortAddressesAndPIN) {
    EXPECT_EQ(HeadlessAgent::companionLine(9000, {"192.168.1.20", "127.0.0.1"}, "012345"),
              "Companion: send OSC to UDP port 9000 of this computer (192.168.1.20, 127.0.0.1), PIN 012345");
    EXPECT_EQ(HeadlessAgent::companionLine(9000, {}, "999999"),
              "Companion: send OSC to UDP port 9000 of this computer, PIN 999999");
    // A port another program holds was once announced as if it were ours.
    EXPECT_EQ(HeadlessAgent::companionLine(9000, {"192.168.1.20"}, "999999", true).find("send OSC"), std::string::npos);
    const auto addresses = HeadlessAgent::localAddresses();
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.back(), "127.0.0.1") << "loopback comes last";
}

} // namespace
} // namespace orevant
