#include "audio/audio_device_monitor.h"

#include "persistence/json_defaults.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace orevant {
namespace {

AudioDevice named(std::string uid, std::string name) {
    AudioDevice d;
    d.uid = std::move(uid);
    d.name = std::move(name);
    return d;
}

std::vector<std::string> uids(const std::vector<AudioDevice>& devices) {
    std::vector<std::string> out;
    for (const AudioDevice& d : devices) out.push_back(d.uid);
    return out;
}

TEST(DeviceRankingTest, MergeKeepsAbsentDevicesInPlace) {
    EXPECT_EQ(DeviceRanking::merge({"A", "X", "B"}, {"B", "A"}), (std::vector<std::string>{"B", "X", "A"}));
    // New visible devices are appended first, then take their place among the visible ones.
    EXPECT_EQ(DeviceRanking::merge({"A", "X"}, {"C", "A"}), (std::vector<std::string>{"C", "X", "A"}));
    EXPECT_EQ(DeviceRanking::merge({}, {"B", "A"}), (std::vector<std::string>{"B", "A"}));
    // A UID named twice never pushes another one out.
    EXPECT_EQ(DeviceRanking::merge({"A", "B"}, {"B", "B", "A"}), (std::vector<std::string>{"B", "A"}));
}

TEST(DeviceRankingTest, RankedFirstThenByNameIgnoringCase) {
    DeviceRanking ranking{{"usb", "bt"}, {}};
    std::vector<AudioDevice> devices{named("z", "zeta"), named("bt", "Headset"), named("a", "Alpha"),
                                     named("usb", "Interface"), named("b", "beta")};
    ranking.sort(devices);
    EXPECT_EQ(uids(devices), (std::vector<std::string>{"usb", "bt", "a", "b", "z"}));
}

class AudioDeviceMonitorTest : public ::testing::Test {
protected:
    AudioObjectID plug(const std::string& uid, const std::string& name, uint32_t transport = transport::usb,
                       uint32_t outputs = 2, uint32_t inputs = 0) {
        return system.addDevice(test::deviceSpec(uid, outputs, 48000.0, inputs, transport, name));
    }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    InMemoryDefaultsStore defaults;
    AudioDeviceMonitor monitor{AudioDirection::output, server, queue, defaults};
    ScopedLogCapture logs;
};

TEST_F(AudioDeviceMonitorTest, ListsDevicesOfItsDirectionAndHidesOurAggregates) {
    const AudioObjectID speakers = plug("builtin", "Speakers", transport::builtIn, 2, 0);
    plug("mic", "Microphone", transport::usb, 0, 1);
    plug("tap-agg", "OREVANT aggregate #42", transport::aggregate, 2, 0);
    plug("old-agg", "Movra aggregate #7", transport::aggregate, 2, 0);
    plug("user-agg", "Studio aggregate", transport::aggregate, 8, 0);
    SimDeviceSpec iface = test::deviceSpec("iface", 8, 48000.0, 8, transport::usb, "Interface");
    iface.outputDataSource = fourcc("hdpn");
    system.addDevice(iface);
    system.setDefaultOutput(speakers);

    monitor.start();
    EXPECT_EQ(uids(monitor.devices()), (std::vector<std::string>{"iface", "builtin", "user-agg"}));
    EXPECT_EQ(monitor.devices()[0].outputChannels, 8);
    EXPECT_EQ(monitor.devices()[0].outputDataSource, fourcc("hdpn"));
    EXPECT_EQ(monitor.defaultDeviceID(), speakers);

    AudioDeviceMonitor inputs(AudioDirection::input, server, queue, defaults);
    inputs.start();
    EXPECT_EQ(uids(inputs.devices()), (std::vector<std::string>{"iface", "mic"}));
    EXPECT_EQ(inputs.priorityStore().key, "devicePriorityInput");

    // A device whose name cannot be read is left out; the rest stay.
    server.injectFailure(speakers, sel::name, status::unspecified);
    monitor.refresh();
    EXPECT_EQ(uids(monitor.devices()), (std::vector<std::string>{"iface", "user-agg"}));
}

TEST_F(AudioDeviceMonitorTest, ReorderMergesStoresAndArmsTheMovedDevice) {
    JSONDefaults::save(std::vector<std::string>{"A", "X", "B"}, "devicePriority", defaults);
    plug("A", "Alpha");
    plug("B", "Beta");
    monitor.start();
    EXPECT_EQ(uids(monitor.devices()), (std::vector<std::string>{"A", "B"}));
    int notified = 0;
    auto token = monitor.addObserver([&] { ++notified; });

    monitor.reorder({"B", "A"}, "B");
    EXPECT_EQ(monitor.ranking().order, (std::vector<std::string>{"B", "X", "A"}));
    EXPECT_EQ(uids(monitor.devices()), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(JSONDefaults::load<std::vector<std::string>>("devicePriority", defaults),
              (std::vector<std::string>{"B", "X", "A"}));
    EXPECT_EQ(JSONDefaults::load<std::vector<std::string>>("devicePriorityArmed", defaults),
              std::vector<std::string>{"B"});

    // The stored ranking is what a new monitor starts with.
    AudioDeviceMonitor again(AudioDirection::output, server, queue, defaults);
    again.start();
    EXPECT_EQ(again.ranking(), monitor.ranking());
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Each row is a fault of the automatic switch: switching when it must not (first look, two
// newcomers at once, unarmed or unranked devices, our own multi-output as default, a newcomer
// ranked below the default), not switching when it must, or switching twice.
TEST_F(AudioDeviceMonitorTest, AutomaticSwitchFollowsTheArmedRanking) {
    struct Case {
        const char* name;
        const char *order, *armed;
        const char* before; // plugged before start, in this order; "*" marks the default
        const char* change; // after start, seen in one refresh: "+uid" plugs, "-uid" unplugs
        const char* expectedDefault;
        const char* said; // the switch's log line; nullptr when nothing switches
    };
    const Case cases[] = {
        {"newcomer outranks the default", "headset builtin", "headset", "*builtin", "+headset", "headset",
         "Higher-priority device connected; switching to headset device"},
        {"newcomer ranked below the default", "builtin usb1", "usb1 builtin", "*builtin", "+usb1", "builtin", nullptr},
        {"first refresh only records the baseline", "usb1 builtin", "usb1", "*builtin usb1", "", "builtin", nullptr},
        {"two newcomers in one refresh", "usb1 usb2 builtin", "usb1 usb2", "*builtin", "+usb1 +usb2", "builtin",
         nullptr},
        {"ranked but not armed", "unarmed builtin", "", "*builtin", "+unarmed", "builtin", nullptr},
        {"armed but not ranked", "builtin", "stray", "*builtin", "+stray", "builtin", nullptr},
        {"own multi-output is the default", "usb1 builtin", "usb1", "builtin *com.brenlake.orevant.multi-output",
         "+usb1", "com.brenlake.orevant.multi-output", nullptr},
        {"default gone: best armed present device", "usb1 usb2 builtin", "usb2 builtin", "builtin *usb1 usb2", "-usb1",
         "usb2", "Default device disappeared; switching to usb2 device"},
        // The server falls back to the first device, here already the best armed one.
        {"default gone: the server already chose the best", "usb1 usb2 builtin", "usb2 builtin", "usb2 builtin *usb1",
         "-usb1", "usb2", nullptr},
        {"default gone with nothing armed", "usb1 builtin", "", "builtin *usb1", "-usb1", "builtin", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualMainQueue q;
        SimAudioServer s{q};
        SimAudioSystem sys{s};
        InMemoryDefaultsStore store;
        JSONDefaults::save(words(c.order), "devicePriority", store);
        JSONDefaults::save(words(c.armed), "devicePriorityArmed", store);
        for (std::string uid : words(c.before)) {
            const bool isDefault = uid[0] == '*';
            if (isDefault) uid.erase(0, 1);
            const AudioObjectID id = sys.addDevice(test::deviceSpec(uid));
            if (isDefault) sys.setDefaultOutput(id);
        }
        AudioDeviceMonitor m(AudioDirection::output, s, q, store);
        m.start();
        q.runUntilIdle();
        logs->clear();
        for (const std::string& step : words(c.change)) {
            if (step[0] == '+')
                sys.addDevice(test::deviceSpec(step.substr(1)));
            else
                sys.removeDevice(sys.deviceWithUID(step.substr(1)));
        }
        q.runUntilIdle();
        EXPECT_EQ(sys.defaultOutput(), sys.deviceWithUID(c.expectedDefault));
        EXPECT_EQ(m.defaultDeviceID(), sys.deviceWithUID(c.expectedDefault));
        EXPECT_EQ(s.clientWriteCount(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global),
                  c.said ? 1u : 0u);
        if (c.said)
            EXPECT_EQ(logs->count(c.said, LogLevel::info), 1u);
        else
            EXPECT_FALSE(logs->contains("switching"));
    }
}

TEST_F(AudioDeviceMonitorTest, FailuresAreLoggedAndKeepTheStateAndADestroyedMonitorLeavesNoListener) {
    const AudioObjectID builtin = plug("builtin", "Speakers", transport::builtIn);
    const AudioObjectID usb1 = plug("usb1", "One");
    system.setDefaultOutput(builtin);
    monitor.start();

    server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::permissionDenied,
                         SimAudioServer::opSet);
    monitor.setDefault(*monitor.device("usb1"));
    EXPECT_EQ(logs->count("Failed to set default device to One: HAL property " +
                              std::to_string(sel::defaultOutputDevice) + " failed: OSStatus",
                          LogLevel::error),
              1u);
    EXPECT_EQ(monitor.defaultDeviceID(), builtin);
    server.clearAllFailures();
    monitor.setDefault(*monitor.device("usb1"));
    EXPECT_EQ(monitor.defaultDeviceID(), usb1);
    EXPECT_EQ(system.defaultOutput(), usb1);

    server.injectFailure(kAudioObjectSystemObject, sel::deviceList, status::unspecified);
    monitor.refresh();
    EXPECT_EQ(logs->count("Failed to read device list", LogLevel::error), 1u);
    EXPECT_EQ(monitor.devices().size(), 2u);
    server.clearAllFailures();

    // A destroyed monitor leaves no listener and ignores the refresh it had posted.
    {
        AudioDeviceMonitor shortLived(AudioDirection::output, server, queue, defaults);
        shortLived.start();
        plug("usb2", "Two");
    }
    queue.runUntilIdle();
    EXPECT_EQ(server.listenerCount(kAudioObjectSystemObject, sel::deviceList), 1u); // the fixture's own
}

} // namespace
} // namespace orevant
