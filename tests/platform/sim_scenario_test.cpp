#include "platform/sim/sim_scenario.h"

#include "platform/manual_main_queue.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

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
}

// Faults: an unusable document was half applied; numbers had no bounds (-1 channels wrapped to
// 4,294,967,295 and aborted, 10,000 devices ate memory, a rate of 1e9 made the clock thread spin).
// Each is refused naming its place (and a number its value); the values at the bounds are accepted.
TEST(SimScenarioTest, UnusableDocumentsAndNumbersOutsideTheirRangeAreRefusedNamingThePlace) {
    auto devices = [](size_t count) {
        std::string list;
        for (size_t i = 0; i < count; ++i)
            list += (i ? "," : "") + std::string("{\"uid\": \"d") + std::to_string(i) + "\"}";
        return "{\"devices\": [" + list + "]}";
    };
    auto processes = [](size_t count) {
        std::string list;
        for (size_t i = 0; i < count; ++i) list += (i ? "," : "") + std::string("{\"pid\": 7}");
        return "{\"processes\": [" + list + "]}";
    };
    // One entry of one list: {"<list>": [{<fields>}]}; dev: one device "x".
    auto one = [](const char* list, const std::string& fields) {
        return "{\"" + std::string(list) + "\": [{" + fields + "}]}";
    };
    auto dev = [&](const char* fields) { return one("devices", std::string(R"("uid": "x", )") + fields); };
    struct Case {
        std::string document;
        std::string said; // "accepted" for a document within the bounds
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "document: must be a JSON object"},
        {one("devices", R"("name": "x")"), "devices[0]"},
        {dev(R"("transport": "usb")"), "devices[0].transport: must be a four-character"},
        {one("apps", R"("pid": 1, "policy": "odd")"), "apps[0].policy"},
        {one("processes", R"("pid": 1, "source": {"square": {}})"), "processes[0].source: unknown source"},
        {dev(R"("outputVolume": 2)"), "devices[0].outputVolume: 2 is out of range (0 to 1)"},
        {one("events", R"("at": 1)"), "events[0]: names no event"},
        {one("events", R"("at": 1, "play": 3, "stop": 3)"), "events[0]: names both"},
        {one("events", R"("at": 1, "play": "x")"), "events[0].play: must be a number"},
        {R"({"unknown": 1, "processes": [{"pid": 7, "source": {"wav": "a.wav"}}]})", "accepted"},
        {dev(R"("outputChannels": -1)"), "devices[0].outputChannels: -1 is out of range (0 to 64)"},
        {dev(R"("outputChannels": 100000)"), "devices[0].outputChannels: 100000 is out of range"},
        {dev(R"("inputChannels": 2.5)"), "devices[0].inputChannels: 2.5 is not a whole number"},
        {dev(R"("outputChannels": 64, "inputChannels": 0)"), "accepted"},
        {dev(R"("sampleRate": 1e9)"), "devices[0].sampleRate: 1000000000.0 is out of range (8000 to 384000)"},
        {dev(R"("sampleRate": 1e-300)"), "devices[0].sampleRate: 1e-300 is out of range"},
        {R"({"devices": [{"uid": "x", "sampleRate": 8000}, {"uid": "y", "sampleRate": 384000}]})", "accepted"},
        {dev(R"("transport": -5)"), "devices[0].transport: -5 is out of range"},
        {devices(64), "accepted"},
        {devices(65), "devices: has 65 entries; at most 64 are allowed"},
        {processes(1024), "accepted"},
        {processes(1025), "processes: has 1025 entries; at most 1024 are allowed"},
        {one("processes", R"("pid": 0)"), "processes[0].pid: 0 is out of range (1 to 2147483647)"},
        {one("processes", R"("pid": 4294967297)"), "processes[0].pid: 4294967297 is out of range"},
        {one("processes", R"("pid": 1, "source": {"sine": {"frequency": 1e300}})"),
         "processes[0].source.sine.frequency: 1e+300 is out of range"},
        {one("apps", R"("pid": 1, "responsiblePID": -1)"), "apps[0].responsiblePID: -1 is out of range"},
        {one("bluetooth", R"("address": "a", "majorClass": -1)"),
         "bluetooth[0].majorClass: -1 is out of range (0 to 31)"},
        {one("bluetooth", R"("address": "a", "connectDelay": 1e300)"),
         "bluetooth[0].connectDelay: 1e+300 is out of range"},
        {one("bluetooth", R"("address": "a", "connectStatus": 3000000000)"),
         "bluetooth[0].connectStatus: 3000000000 is out of range"},
        {one("events", R"("at": -1, "play": 3)"), "events[0].at: -1 is out of range (0 to 604800)"},
        {one("events", R"("at": 1e300, "play": 3)"), "events[0].at: 1e+300 is out of range"},
        {one("events", R"("at": 0, "play": -3)"), "events[0].play: -3 is out of range"},
        {one("events", R"("at": 0, "volume": {"uid": "x", "value": 1.5})"),
         "events[0].volume.value: 1.5 is out of range (0 to 1)"},
        {R"({"devices": [{"uid": "a"}], "events": [{"at": 1, "plug": {"uid": "b"}}]})", "accepted"},
    };
    for (const Case& c : cases) {
        std::string said = "accepted";
        try {
            SimScenario::parse(c.document);
        } catch (const SimScenarioError& error) {
            said = error.what();
        }
        if (c.said == "accepted")
            EXPECT_EQ(said, "accepted") << c.document.substr(0, 200);
        else
            EXPECT_NE(said.find("scenario: " + c.said), std::string::npos) << said;
    }
}

// Fault: a FIFO or a link to /dev/zero as the scenario hung or exhausted the agent.
TEST(SimScenarioTest, OnlyARegularFileOfAtMostFourMegabytesIsRead) {
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero");
    std::ofstream(dir / "big") << "{}";
    std::filesystem::resize_file(dir / "big", SimScenario::kMaxFileBytes + 1);
    for (const char* name : {"fifo", "zero", "big"})
        EXPECT_THROW(SimScenario::loadFile((dir / name).string()), SimScenarioError) << name;
    std::ofstream(dir / "fine") << "{}";
    EXPECT_NO_THROW(SimScenario::loadFile((dir / "fine").string()));
    EXPECT_THROW(SimScenario::loadFile((dir / "absent").string()), SimScenarioError);
}

} // namespace
} // namespace orevant
