#include "platform/sim/sim_scenario.h"

#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

constexpr const char* kScenario = R"({
  "agentBundleID": "com.brenlake.orevant",
  "apps": [
    {"pid": 100, "bundleID": "com.example.browser", "name": "Browser"},
    {"pid": 200, "bundleID": "com.example.tray", "policy": "accessory"}
  ],
  "devices": [
    {"uid": "builtin", "name": "Speakers", "transport": "bltn", "outputChannels": 2,
     "outputDataSource": "ispk", "outputVolume": 0.5},
    {"uid": "iface", "name": "Interface", "transport": "usb ", "outputChannels": 8, "inputChannels": 8,
     "volumeSettable": false, "muteSettable": false}
  ],
  "defaultOutput": "iface",
  "defaultInput": "iface",
  "processes": [
    {"pid": 100, "playing": true, "source": {"sine": {"frequency": 440, "amplitude": 0.25}}},
    {"pid": 101, "source": "noise", "channels": "mono"}
  ],
  "bluetooth": [
    {"address": "aa-bb-cc", "name": "Headset", "minorClass": 1, "connectDelay": 1.5,
     "device": {"uid": "bt-headset", "name": "Headset", "transport": "blue"}},
    {"address": "dd-ee-ff", "name": "Mouse", "majorClass": 5}
  ],
  "events": [
    {"at": 1, "stop": 100},
    {"at": 2, "unplug": "iface"},
    {"at": 3, "bluetoothConnect": "aa-bb-cc"},
    {"at": 4, "volume": {"uid": "builtin", "value": 0.2}},
    {"at": 5, "exit": 101}
  ],
  "midi": {"sources": ["a later section this loader leaves alone"]}
})";

TEST(SimScenarioTest, BuildsTheDescribedSystemAndPlaysItsEvents) {
    ManualMainQueue queue;
    SimAudioServer server(queue);
    SimAudioSystem system(server);
    SimWorkspace workspace("other.bundle");
    SimBluetooth bluetooth(queue);
    const SimScenario scenario = SimScenario::parse(kScenario);
    ASSERT_EQ(scenario.processes.size(), 2u);
    EXPECT_EQ(scenario.processes[0].spec.source.kind, SimAudioSource::Kind::sine);
    EXPECT_FLOAT_EQ(scenario.processes[0].spec.source.amplitude, 0.25f);
    EXPECT_EQ(scenario.processes[1].spec.source.channels, 1);
    scenario.apply(system, workspace, bluetooth, queue);

    EXPECT_EQ(workspace.mainBundleIdentifier(), "com.brenlake.orevant");
    ASSERT_TRUE(workspace.runningApplication(200));
    EXPECT_EQ(workspace.runningApplication(200)->activationPolicy, ActivationPolicy::accessory);
    EXPECT_FALSE(workspace.runningApplication(200)->localizedName);

    const AudioObjectID builtin = system.deviceWithUID("builtin");
    const AudioObjectID iface = system.deviceWithUID("iface");
    ASSERT_NE(builtin, 0u);
    ASSERT_NE(iface, 0u);
    EXPECT_EQ(system.defaultOutput(), iface);
    EXPECT_EQ(system.defaultInput(), iface);
    EXPECT_EQ(server.value<uint32_t>(builtin, sel::dataSource, scope::output), fourcc("ispk"));
    EXPECT_EQ(server.value<uint32_t>(iface, sel::transportType, scope::global), transport::usb);
    EXPECT_FLOAT_EQ(*server.value<float>(builtin, sel::virtualMainVolume, scope::output), 0.5f);
    bool settable = true;
    server.isPropertySettable(iface, PropertyAddress{sel::virtualMainVolume, scope::output, 0}, settable);
    EXPECT_FALSE(settable);

    const auto processes = server.ids(kAudioObjectSystemObject, sel::processObjectList, scope::global);
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(server.value<uint32_t>(processes[0], sel::processIsRunningOutput, scope::global), 1u);

    queue.advance(1.0);
    EXPECT_EQ(server.value<uint32_t>(processes[0], sel::processIsRunningOutput, scope::global), 0u);
    queue.advance(1.0);
    EXPECT_EQ(system.deviceWithUID("iface"), 0u);
    EXPECT_EQ(system.defaultOutput(), builtin); // the server falls back by itself
    EXPECT_EQ(system.deviceWithUID("bt-headset"), 0u);
    queue.advance(1.0);
    EXPECT_TRUE(bluetooth.isConnected("aa-bb-cc"));
    EXPECT_NE(system.deviceWithUID("bt-headset"), 0u); // a connected headset brings its device
    queue.advance(1.0);
    EXPECT_FLOAT_EQ(*server.value<float>(builtin, sel::virtualMainVolume, scope::output), 0.2f);
    queue.advance(1.0);
    EXPECT_EQ(server.ids(kAudioObjectSystemObject, sel::processObjectList, scope::global).size(), 1u);

    // Connecting through the platform call takes the chosen delay.
    bluetooth.setConnected("aa-bb-cc", false);
    queue.runUntilIdle();
    EXPECT_EQ(system.deviceWithUID("bt-headset"), 0u);
    IOReturn result = -1;
    bluetooth.openConnection("aa-bb-cc", [&](IOReturn status) { result = status; });
    queue.advance(1.4);
    EXPECT_EQ(result, -1);
    queue.advance(0.2);
    EXPECT_EQ(result, kIOReturnSuccess);
    queue.runUntilIdle();
    EXPECT_NE(system.deviceWithUID("bt-headset"), 0u);
}

TEST(SimScenarioTest, RejectsUnusableDocumentsWithTheirPlace) {
    auto message = [](const std::string& text) -> std::string {
        try {
            SimScenario::parse(text);
        } catch (const SimScenarioError& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_NE(message("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(message("[]").find("must be a JSON object"), std::string::npos);
    EXPECT_NE(message(R"({"devices": [{"name": "x"}]})").find("devices[0]"), std::string::npos);
    EXPECT_NE(message(R"({"devices": [{"uid": "x", "transport": "usb"}]})").find("four-character"), std::string::npos);
    EXPECT_NE(message(R"({"devices": [{"uid": "x", "outputVolume": 2}]})").find("between 0 and 1"), std::string::npos);
    EXPECT_NE(message(R"({"apps": [{"pid": 1, "policy": "odd"}]})").find("apps[0].policy"), std::string::npos);
    EXPECT_NE(message(R"({"processes": [{"pid": 1, "source": {"square": {}}}]})").find("unknown source"),
              std::string::npos);
    EXPECT_NE(message(R"({"events": [{"at": 1}]})").find("names no event"), std::string::npos);
    EXPECT_NE(message(R"({"events": [{"at": -1, "play": 3}]})").find("events[0].at"), std::string::npos);
    EXPECT_NE(message(R"({"events": [{"at": 1, "play": 3, "stop": 3}]})").find("names both"), std::string::npos);
    EXPECT_NE(message(R"({"events": [{"at": 1, "play": "x"}]})").find("process identifier"), std::string::npos);
    EXPECT_EQ(message(R"({"unknown": 1, "processes": [{"pid": 7, "source": {"wav": "a.wav"}}]})"), "accepted");
    EXPECT_THROW(SimScenario::loadFile("/nonexistent/scenario.json"), SimScenarioError);
}

} // namespace
} // namespace orevant
