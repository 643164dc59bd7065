#include "audio/bluetooth_audio_monitor.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_bluetooth.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

SimBluetoothDevice paired(std::string address, std::optional<std::string> name, uint32_t major = 4, uint32_t minor = 1,
                          bool connected = false) {
    return SimBluetoothDevice{BluetoothPairedDevice{std::move(address), std::move(name), major, minor, connected}};
}

class BluetoothAudioMonitorTest : public ::testing::Test {
protected:
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& d : monitor.paired()) out.push_back(d.name);
        return out;
    }

    // Completions of the simulated platform arrive through a queue of their own, as from a
    // background thread; the monitor hands them to the main queue.
    ManualTaskQueue background;
    ManualMainQueue queue;
    SimBluetooth bluetooth{background};
    BluetoothAudioMonitor monitor{bluetooth, queue};
    ScopedLogCapture logs;

    void run(double seconds = 0.0) {
        background.advance(seconds);
        queue.runUntilIdle();
    }
};

TEST_F(BluetoothAudioMonitorTest, ListsOnlyAudioDevicesSortedByNameOrAddress) {
    bluetooth.addPaired(paired("aa-01", "zed Speaker", 4, 5));
    bluetooth.addPaired(paired("aa-02", std::nullopt, 4, 6));
    bluetooth.addPaired(paired("aa-03", "Keyboard", 5, 16));
    bluetooth.addPaired(paired("aa-04", "Buds", 4, 6, true));
    bluetooth.addPaired(paired("", "No address", 4, 1));
    monitor.refresh();
    EXPECT_TRUE(monitor.paired().empty()); // published only back on the main queue
    run();
    EXPECT_EQ(names(), (std::vector<std::string>{"aa-02", "Buds", "zed Speaker"}));
    EXPECT_EQ(monitor.paired()[1], (BluetoothAudioDevice{"aa-04", "Buds", true, 6}));
}

TEST_F(BluetoothAudioMonitorTest, OnlyTheLatestRefreshIsPublished) {
    bluetooth.addPaired(paired("aa-01", "Old"));
    bluetooth.setScanDelay(2.0);
    monitor.refresh(); // a slow scan
    bluetooth.setScanDelay(0.5);
    bluetooth.addPaired(paired("aa-02", "Newer"));
    monitor.refresh();
    run(0.5);
    EXPECT_EQ(names(), (std::vector<std::string>{"Newer", "Old"}));
    bluetooth.removePaired("aa-02");
    run(2.0); // the first scan finishes later, with a different list, and is dropped
    EXPECT_EQ(names(), (std::vector<std::string>{"Newer", "Old"}));
    EXPECT_EQ(monitor.refreshGeneration(), 2);
}

// Faults: a second connect while one runs opened another; a failed connect reported success or
// left the device busy; a disconnect of a vanished device was not reported.
TEST_F(BluetoothAudioMonitorTest, ConnectIsOnePerDeviceAndReportsOnlySuccessFailuresAreLoggedAndRefresh) {
    bluetooth.addPaired(paired("aa-01", "Headset"));
    bluetooth.setConnectResult("aa-01", -536870195);
    monitor.refresh();
    run();
    const BluetoothAudioDevice headset = monitor.paired().at(0);
    const int generation = monitor.refreshGeneration();
    std::vector<std::string> connected;
    monitor.connect(headset, [&](const BluetoothAudioDevice& d) { connected.push_back(d.id + " failed"); });
    run();
    EXPECT_TRUE(connected.empty());
    EXPECT_TRUE(monitor.busy().empty());
    EXPECT_EQ(monitor.refreshGeneration(), generation + 1);
    EXPECT_EQ(logs->count("Connect failed for Headset: IOReturn -536870195", LogLevel::error), 1u);

    bluetooth.setConnectResult("aa-01", kIOReturnSuccess, 1.0);
    monitor.connect(headset, [&](const BluetoothAudioDevice& d) { connected.push_back(d.id); });
    EXPECT_EQ(monitor.busy(), std::set<std::string>{"aa-01"});
    monitor.connect(headset, [&](const BluetoothAudioDevice& d) { connected.push_back(d.id + " again"); });
    EXPECT_EQ(bluetooth.openCount(), 2u);
    run(1.0);
    EXPECT_TRUE(monitor.busy().empty());
    EXPECT_EQ(connected, std::vector<std::string>{"aa-01"});
    run(); // the refresh that follows shows the connection
    EXPECT_TRUE(monitor.paired().at(0).isConnected);

    monitor.disconnect(BluetoothAudioDevice{"aa-09", "Gone", true, 1}); // vanished meanwhile: the generic error
    run();
    EXPECT_EQ(logs->count("Disconnect failed for Gone: IOReturn " + std::to_string(kIOReturnError), LogLevel::error),
              1u);
}

TEST_F(BluetoothAudioMonitorTest, ResultsForADestroyedMonitorAreDropped) {
    bluetooth.addPaired(paired("aa-01", "Headset"));
    {
        BluetoothAudioMonitor shortLived(bluetooth, queue);
        shortLived.refresh();
        shortLived.connect(BluetoothAudioDevice{"aa-01", "Headset", false, 1}, [](const BluetoothAudioDevice&) {
            ADD_FAILURE() << "completion ran for a destroyed monitor";
        });
    }
    run();
    EXPECT_TRUE(bluetooth.isConnected("aa-01"));
}

} // namespace
} // namespace orevant
