// The tap set on its own, over the simulated audio server: which outputs a setting's tap plays
// to, and the coverage drop's timing and release rule. What forces and holds taps is given here
// by hand; the engine's own rules for them are tested with the engine.
#include "engine/tap_set.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/hal_error.h"
#include "audio/volume_write_queue.h"
#include "engine/app_settings.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

class TapSetTest : public ::testing::Test {
protected:
    TapSetTest() {
        devices.start();
        processes.start();
        world.settle();
    }

    // The application as the process monitor lists it.
    AudioApp app(const SimApp& simApp) const {
        for (const AudioApp& listed : processes.apps()) {
            if (listed.id == simApp.pid) return listed;
        }
        ADD_FAILURE() << simApp.bundleID << " is not listed";
        return {};
    }

    EngineFixture world;
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    AudioObjectID headset = world.addOutputDevice("headset-uid", "Headset", 2, transport::bluetooth);
    AudioObjectID desk = world.addOutputDevice("desk-uid", "Desk", 2, transport::usb);
    AudioObjectID buds = world.addOutputDevice("buds-uid", "Buds", 2, transport::bluetoothLE);
    SimApp music = world.addApp("com.example.music", "Music");
    SimApp video = world.addApp("com.example.video", "Video");

    AudioProcessMonitor processes{world.server, world.queue, world.workspace};
    AudioDeviceMonitor devices{AudioDirection::output, world.server, world.queue, world.defaults};
    AppSettings settings{world.queue, world.defaults};
    VolumeWriteQueue routeWrites{world.server, world.queue};
    bool forces = false;
    bool holds = false;
    int tapsChanged = 0;
    TapSet taps{TapSet::Parts{
                    .mainQueue = world.queue,
                    .audioServer = world.server,
                    .routeVolumeWrites = routeWrites,
                    .processMonitor = processes,
                    .deviceMonitor = devices,
                    .settings = settings,
                    .recorder = nullptr,
                    .blockingWait = [](double) {},
                },
                TapSet::Hooks{
                    .forcesTaps = [this] { return forces; },
                    .holdsTaps = [this] { return holds; },
                    .levels = [](const AppVolume& setting) { return tapLevelsFor(setting, false, false, 1.0f); },
                    .pairing = [](const AudioDevice&) { return std::optional<ProcessTap::ChannelPairing>(); },
                    .tapsChanged = [this] { ++tapsChanged; },
                    .stateChanged = [] {},
                    .tapMade = {},
                }};
};

TEST_F(TapSetTest, OutputsPutAWiredDeviceFirstSkipAbsentOnesAndElseFollowTheDefault) {
    using Outputs = std::vector<ProcessTap::Output>;
    const struct {
        std::vector<std::string> routed;
        Outputs outputs;
    } cases[] = {
        {{"headset-uid", "gone-uid", "desk-uid"}, {{"desk-uid", desk}, {"headset-uid", headset}}},
        {{"buds-uid", "headset-uid"}, {{"buds-uid", buds}, {"headset-uid", headset}}},
        {{"desk-uid", "desk-uid", "speakers-uid"}, {{"desk-uid", desk}, {"speakers-uid", speakers}}},
        {{"gone-uid"}, {{"speakers-uid", speakers}}},
        {{}, {{"speakers-uid", speakers}}},
    };
    for (const auto& c : cases) {
        AppVolume setting;
        setting.outputDeviceUIDs = c.routed;
        EXPECT_EQ(taps.resolveOutputs(setting), c.outputs) << ::testing::PrintToString(c.routed);
    }

    // An unreadable default device: no tap and an error line; the next sync tries again.
    world.server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                               SimAudioServer::opGet);
    EXPECT_THROW(taps.resolveOutputs(AppVolume{}), HALError);
    AppVolume quieter;
    quieter.volume = 0.5f;
    settings.set(music.bundleID, quieter);
    taps.make(app(music), quieter);
    EXPECT_EQ(taps.tap(music.bundleID), nullptr);
    EXPECT_TRUE(world.logs->contains("Default device read failed: "));
    world.server.clearAllFailures();
    taps.sync();
    ASSERT_NE(taps.tap(music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(taps.tap(music.bundleID)->volume(), 0.5f);
}

TEST_F(TapSetTest, CoverageDropReleasesDefaultSettingsAfterItsDelayUnlessHeld) {
    AppVolume quieter;
    quieter.volume = 0.5f;
    settings.set(music.bundleID, quieter);
    forces = true;
    taps.sync();
    ASSERT_EQ(taps.taps().size(), 2u) << "forced: every playing application";
    forces = false;

    // Held when it runs: nothing goes.
    holds = true;
    taps.scheduleCoverageDrop();
    world.advance(1.0);
    EXPECT_EQ(taps.taps().size(), 2u);

    // A new request restarts the delay; a cancelled one never runs.
    holds = false;
    taps.scheduleCoverageDrop();
    world.advance(0.2);
    taps.scheduleCoverageDrop();
    world.advance(0.2);
    EXPECT_EQ(taps.taps().size(), 2u);
    taps.cancelCoverageDrop();
    world.advance(1.0);
    EXPECT_EQ(taps.taps().size(), 2u);

    const int changesBefore = tapsChanged;
    taps.scheduleCoverageDrop();
    world.advance(TapSet::kCoverageDropDelaySeconds + 0.001);
    EXPECT_EQ(taps.tap(video.bundleID), nullptr) << "default setting: released";
    EXPECT_NE(taps.tap(music.bundleID), nullptr) << "customised: kept";
    EXPECT_EQ(tapsChanged, changesBefore + 1);
}

} // namespace
} // namespace orevant
