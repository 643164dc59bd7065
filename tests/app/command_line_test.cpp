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

TEST(CommandLineTest, TheBackendIsPipeWireWhenOneAnswersUnlessAskedOrAScenarioIsGiven) {
    test::TempDir dir;
    const std::string scenario = (dir / "s.json").string();
    std::ofstream(scenario) << "{}";
    struct Case {
        std::vector<const char*> args;
        AudioBackendChoice backend;
    };
    const Case cases[] = {
        {{}, AudioBackendChoice::automatic},
        {{"--backend", "auto"}, AudioBackendChoice::automatic},
        {{"--backend", "pipewire"}, AudioBackendChoice::pipewire},
        {{"--backend", "sim"}, AudioBackendChoice::sim},
        {{"--scenario", scenario.c_str()}, AudioBackendChoice::sim},
    };
    for (const Case& c : cases) {
        auto parsed = parse(c.args);
        ASSERT_TRUE(std::holds_alternative<CommandLineOptions>(parsed));
        EXPECT_EQ(std::get<CommandLineOptions>(parsed).backend, c.backend);
    }
    EXPECT_NE(std::get<CommandLine::Exit>(parse({"--backend", "coreaudio"})).status, 0);
    EXPECT_NE(std::get<CommandLine::Exit>(parse({"--backend", "pipewire", "--scenario", scenario.c_str()})).status, 0);
}

TEST(CommandLineTest, OptionsAreReadAndHelpAndVersionEndTheProgramWithStatusZero) {
    test::TempDir dir;
    const std::string scenario = (dir / "s.json").string();
    std::ofstream(scenario) << "{}";
    auto parsed = parse({"--headless", "--quiet", "--scenario", scenario.c_str(), "--latency-trace", "/tmp/t"});
    ASSERT_TRUE(std::holds_alternative<CommandLineOptions>(parsed));
    const auto& options = std::get<CommandLineOptions>(parsed);
    EXPECT_TRUE(options.headless);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.scenarioFile, scenario);
    EXPECT_EQ(options.latencyTrace, "/tmp/t");

    const auto defaults = std::get<CommandLineOptions>(parse({}));
    EXPECT_FALSE(defaults.headless);
    EXPECT_FALSE(defaults.quiet);
    EXPECT_FALSE(defaults.scenarioFile);

    auto version = std::get<CommandLine::Exit>(parse({"--version"}));
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.text, std::string("orevant ") + OREVANT_VERSION + "\n");

    auto help = std::get<CommandLine::Exit>(parse({"--help"}));
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--headless", "--scenario", "--quiet", "--latency-trace", "--version", "--help"}) {
        EXPECT_NE(help.text.find(option), std::string::npos) << option;
    }
}

TEST(CommandLineTest, MistakesAreExplainedWithANonZeroStatus) {
    auto unknown = std::get<CommandLine::Exit>(parse({"--bogus"}));
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.text.find("--bogus"), std::string::npos);
    auto missing = std::get<CommandLine::Exit>(parse({"--scenario", "/nonexistent/scenario.json"}));
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.text.find("/nonexistent/scenario.json"), std::string::npos);
    auto noValue = std::get<CommandLine::Exit>(parse({"--scenario"}));
    EXPECT_NE(noValue.status, 0);
}

TEST(BuiltinScenarioTest, HasTheDevicesApplicationsAndMIDISourceTheAgentShowsOff) {
    const SimScenario scenario = SimScenario::parse(BuiltinScenario::text());
    ASSERT_TRUE(scenario.defaultOutput);
    int stereoBuiltIn = 0, eightChannel = 0;
    for (const auto& device : scenario.devices) {
        if (device.spec.uid == *scenario.defaultOutput && device.spec.outputChannels == 2 &&
            device.spec.transport == transport::builtIn) {
            ++stereoBuiltIn;
        }
        if (device.spec.outputChannels == 8) ++eightChannel;
    }
    EXPECT_EQ(stereoBuiltIn, 1);
    EXPECT_EQ(eightChannel, 1);
    ASSERT_EQ(scenario.bluetooth.size(), 1u);
    ASSERT_TRUE(scenario.bluetooth[0].audioDevice);
    EXPECT_EQ(scenario.bluetooth[0].audioDevice->spec.transport, transport::bluetooth);

    int named = 0;
    for (const auto& app : scenario.apps) named += app.application.bundleIdentifier.has_value();
    EXPECT_EQ(named, 3);
    int playing = 0;
    for (const auto& process : scenario.processes) playing += process.spec.playing;
    EXPECT_EQ(playing, 2);
    // The browser plays through a helper process it is responsible for.
    bool helperPlays = false;
    for (const auto& app : scenario.apps) {
        if (app.responsiblePID == 0) continue;
        for (const auto& process : scenario.processes) {
            helperPlays |= process.spec.pid == app.application.processIdentifier && process.spec.playing;
        }
    }
    EXPECT_TRUE(helperPlays);

    const auto midi = BuiltinScenario::midiSources(BuiltinScenario::text());
    ASSERT_EQ(midi.size(), 1u);
    EXPECT_FALSE(midi[0].isHardware);
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
