// BlueZ over D-Bus against a mock BlueZ (python3-dbusmock's bluez5 template) on a private bus:
// what the monitor lists, what a connect and a disconnect do to the monitor and to the engine's
// routing, change signals, and a connect that never finishes.
#include "audio/bluetooth_audio_monitor.h"
#include "engine/mixer_engine.h"
#include "platform/linux/bluez_bluetooth.h"
#include "platform/linux/dbus_connection.h"
#include "support/engine_fixture.h"
#include "support/test_daemon.h"

#include <cmath>
#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

namespace orevant {
namespace {

constexpr double kWait = 10.0;                  // real seconds; reached only when something is wrong
constexpr uint32_t kHeadsetClass = 0x200404;    // audio/video, headset
constexpr uint32_t kHeadphonesClass = 0x240418; // audio/video, headphones
constexpr uint32_t kKeyboardClass = 0x002540;   // peripheral, keyboard

// Drives the mock through its own interface (org.bluez.Mock on "/").
class MockBlueZ {
public:
    explicit MockBlueZ(const std::string& address) : connection_(DBusConnection::open(address)) {}

    bool call(const char* path, const char* interface, const char* member, const char* types, const char* a,
              const char* b = nullptr, const char* c = nullptr, const char* d = nullptr, const char* e = nullptr) {
        bool ok = false;
        connection_->runAndWait([&](sd_bus* bus) {
            sd_bus_error error = SD_BUS_ERROR_NULL;
            sd_bus_message* call = nullptr;
            int r = sd_bus_message_new_method_call(bus, &call, "org.bluez", path, interface, member);
            const char* args[] = {a, b, c, d, e};
            for (size_t i = 0; r >= 0 && types[i]; ++i) {
                if (types[i] == 's') r = sd_bus_message_append_basic(call, 's', args[i]);
                if (types[i] == 'i') {
                    const int32_t value = static_cast<int32_t>(std::stoul(args[i], nullptr, 0));
                    r = sd_bus_message_append_basic(call, 'i', &value);
                }
            }
            if (r >= 0) r = sd_bus_call(bus, call, 5000000, &error, nullptr);
            ok = r >= 0;
            if (!ok) ADD_FAILURE() << member << ": " << (error.message ? error.message : "");
            sd_bus_message_unref(call);
            sd_bus_error_free(&error);
        });
        return ok;
    }

    void addPairedDevice(const char* address, const char* name, uint32_t deviceClass) {
        call("/", "org.bluez.Mock", "AddDevice", "sss", "hci0", address, name);
        call("/", "org.bluez.Mock", "PairDevice", "ssi", "hci0", address, std::to_string(deviceClass).c_str());
        // The template announces the class when pairing, and the connection state when
        // connecting, but keeps neither; these keep them as BlueZ does.
        std::string path = std::string("/org/bluez/hci0/dev_") + address;
        for (char& c : path)
            if (c == ':') c = '_';
        for (const char* state : {"True", "False"}) {
            const std::string code = "self.UpdateProperties('org.bluez.Device1', {'Connected': dbus.Boolean(" +
                                     std::string(state) + ", variant_level=1)})";
            call(path.c_str(), "org.freedesktop.DBus.Mock", "AddMethod", "sssss", "org.bluez.Device1",
                 state[0] == 'T' ? "Connect" : "Disconnect", "", "", code.c_str());
        }
        connection_->runAndWait([&](sd_bus* bus) {
            sd_bus_error error = SD_BUS_ERROR_NULL;
            if (sd_bus_call_method(bus, "org.bluez", path.c_str(), "org.freedesktop.DBus.Properties", "Set", &error,
                                   nullptr, "ssv", "org.bluez.Device1", "Class", "u", deviceClass) < 0) {
                ADD_FAILURE() << "Set Class: " << (error.message ? error.message : "");
            }
            sd_bus_error_free(&error);
        });
    }

private:
    std::unique_ptr<DBusConnection> connection_;
};

class BlueZTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(daemon.started()) << daemon.reason();
        mock = std::make_unique<MockBlueZ>(daemon.busAddress());
        ASSERT_TRUE(mock->call("/", "org.bluez.Mock", "AddAdapter", "ss", "hci0", "this-computer"));
    }

    std::unique_ptr<BlueZBluetooth> connectBlueZ(double timeout = BlueZBluetooth::kDefaultOperationTimeout) {
        return BlueZBluetooth::connect(DBusConnection::open(daemon.busAddress()), timeout);
    }

    static std::vector<std::string> names(const BluetoothAudioMonitor& monitor) {
        std::vector<std::string> out;
        for (const auto& d : monitor.paired()) out.push_back(d.name + (d.isConnected ? " (connected)" : ""));
        return out;
    }

    test::TestDaemon daemon{"bluez"};
    std::unique_ptr<MockBlueZ> mock;
    test::EngineFixture world;
};

TEST_F(BlueZTest, ListsPairedAudioDevicesConnectsRoutesAndDisconnects) {
    mock->addPairedDevice("AA:BB:CC:DD:EE:01", "Headset", kHeadsetClass);
    mock->addPairedDevice("AA:BB:CC:DD:EE:02", "Keyboard", kKeyboardClass);
    mock->addPairedDevice("AA:BB:CC:DD:EE:03", "Buds", kHeadphonesClass);
    mock->call("/", "org.bluez.Mock", "AddDevice", "sss", "hci0", "AA:BB:CC:DD:EE:04", "Unpaired Speaker");

    auto bluez = connectBlueZ();
    ASSERT_NE(bluez, nullptr);
    world.realBluetooth = bluez.get();
    const AudioObjectID speakers = world.addOutputDevice("speakers", "Speakers");
    const test::SimApp music = world.addApp("com.example.music", "Music", 440.0);
    world.startEngine();
    world.engine->setVolume(0.5f, world.app(music));
    BluetoothAudioMonitor& monitor = world.engine->bluetooth();

    // Paired audio devices only, sorted by name, with BlueZ's address form and the minor class.
    ASSERT_TRUE(world.queue.runUntil([&] { return monitor.paired().size() == 2; }, kWait));
    EXPECT_EQ(names(monitor), (std::vector<std::string>{"Buds", "Headset"}));
    EXPECT_EQ(monitor.paired()[1], (BluetoothAudioDevice{"AA:BB:CC:DD:EE:01", "Headset", false, 1}));
    EXPECT_EQ(monitor.paired()[0].minorClass, 6u);

    // Connect: busy until BlueZ answers, then listed as connected, and once the headset's audio
    // device appears (the audio server names it with the address first) it becomes the default output.
    const BluetoothAudioDevice headset = monitor.paired()[1];
    world.engine->connectBluetooth(headset);
    EXPECT_EQ(monitor.busy(), std::set<std::string>{headset.id});
    ASSERT_TRUE(world.queue.runUntil([&] { return monitor.busy().empty(); }, kWait));
    ASSERT_TRUE(world.queue.runUntil([&] { return monitor.paired()[1].isConnected; }, kWait));
    const AudioObjectID headsetOutput =
        world.addOutputDevice("AA:BB:CC:DD:EE:01:a2dp-sink", "Headset", 2, transport::bluetooth);
    world.runAudio(0.4);
    EXPECT_EQ(world.audio.defaultOutput(), headsetOutput);
    world.runAudio(0.2);
    // The tapped application (volume 0.5: gain 0.125 on a 0.5 sine) follows the default.
    EXPECT_NEAR(world.rms(headsetOutput, 0), 0.5f * 0.125f / std::sqrt(2.0f), 0.003f);
    EXPECT_LT(world.rms(speakers, 0), 0.001f);

    // Disconnect: the monitor shows it; the device stays paired.
    world.engine->bluetooth().disconnect(monitor.paired()[1]);
    ASSERT_TRUE(world.queue.runUntil(
        [&] { return monitor.busy().empty() && monitor.paired().size() == 2 && !monitor.paired()[1].isConnected; },
        kWait));

    // A change made elsewhere (the buds connecting by themselves) reaches the list unasked.
    mock->call("/", "org.bluez.Mock", "ConnectDevice", "ss", "hci0", "AA:BB:CC:DD:EE:03");
    ASSERT_TRUE(world.queue.runUntil([&] { return monitor.paired()[0].isConnected; }, kWait));
    EXPECT_EQ(names(monitor), (std::vector<std::string>{"Buds (connected)", "Headset"}));
    world.dropEngine();
}

TEST_F(BlueZTest, AConnectThatNeverFinishesTimesOutAndAnUnknownDeviceFails) {
    mock->addPairedDevice("AA:BB:CC:DD:EE:05", "Stuck Speaker", kHeadsetClass);
    // This device's Connect never answers (within the life of the test).
    ASSERT_TRUE(mock->call("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_05", "org.freedesktop.DBus.Mock", "AddMethod", "sssss",
                           "org.bluez.Device1", "Connect", "", "", "time.sleep(120)"));
    auto bluez = connectBlueZ(0.3);
    ASSERT_NE(bluez, nullptr);
    std::vector<IOReturn> statuses;
    for (const char* address : {"AA:BB:CC:DD:EE:99", "AA:BB:CC:DD:EE:05"}) {
        const size_t before = statuses.size();
        bluez->openConnection(address, [&](IOReturn s) { world.queue.post([&, s] { statuses.push_back(s); }); });
        ASSERT_TRUE(world.queue.runUntil([&] { return statuses.size() > before; }, kWait)) << address;
    }
    EXPECT_EQ(statuses, (std::vector<IOReturn>{kIOReturnError, kIOReturnTimeout}));
}

} // namespace
} // namespace orevant
