#include "engine/mixer_engine.h"

#include "audio/audio_device_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/control_target.h"
#include "persistence/volume_store.h"
#include "recording/mix_recorder.h"
#include "remote/osc_listener.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace orevant {
namespace {

using test::EngineFixture;
using test::SimApp;

TEST(ControlTargetTest, ParsesEveryKindOfTargetAndScalesMIDIValues) {
    using Kind = ControlTarget::Kind;
    const std::pair<const char*, ControlTarget> cases[] = {
        {"transport:record", {Kind::record, ""}},
        {"cue:com.example.music", {Kind::cue, "com.example.music"}},
        {"bus:main", {Kind::mainBus, ""}},
        {"bus:phones", {Kind::phonesBus, ""}},
        {"system_output", {Kind::systemOutput, ""}},
        {"system_input", {Kind::systemInput, ""}},
        {"device:AppleUSB:1", {Kind::device, "AppleUSB:1"}},
        // Anything else is a bundle ID, including near misses of the fixed names.
        {"bus:aux", {Kind::application, "bus:aux"}},
        {"transport:record2", {Kind::application, "transport:record2"}},
        {"", {}},
        {"cue:", {}},
    };
    for (const auto& [text, target] : cases) EXPECT_EQ(ControlTarget::parse(text), target) << text;

    const std::pair<int, float> values[] = {{127, 1.0f}, {0, 0.0f}, {300, 1.0f}, {-5, 0.0f}};
    for (const auto& [midi, value] : values) EXPECT_FLOAT_EQ(ControlTarget::midiValue(midi), value) << midi;
    EXPECT_TRUE(ControlTarget::isPress(ControlTarget::midiValue(64)));
    EXPECT_FALSE(ControlTarget::isPress(ControlTarget::midiValue(63)));
}

// A 4-channel interface (paired) and 2-channel speakers; two playing applications and one
// installed application that is not running.
class ControlTargetsTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    AudioObjectID speakers = world.addOutputDevice("speakers-uid", "Speakers");
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    const std::string absent = "com.example.absent";
};

TEST_F(ControlTargetsTest, BusAndSystemTargetsSetTheirLevels) {
    world.setDefaultOutput(speakers);
    MixerEngine& engine = world.startEngine();

    engine.handleControl("bus:main", 0.4f);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 0.4f);
    engine.handleControl("system_output", 0.7f);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 0.7f);
    engine.setValue("bus:main", 0.2f);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 0.2f);
    engine.setValue("system_output", 1.5f);
    EXPECT_FLOAT_EQ(engine.systemVolume().volume(), 1.0f) << "limited by the controller";
    engine.handleControl("system_input", 0.3f);
    EXPECT_FLOAT_EQ(engine.inputVolume().volume(), 0.3f);
    engine.setValue("system_input", 0.6f);
    EXPECT_FLOAT_EQ(engine.inputVolume().volume(), 0.6f);

    // No PHONES bus on the speakers: nothing changes, nothing is stored.
    engine.handleControl("bus:phones", 0.25f);
    engine.setValue("bus:phones", 0.25f);
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 1.0f);
    EXPECT_FALSE(world.defaults.object(PhonesBusVolumeController::kVolumeKey).has_value());

    world.setDefaultOutput(interface);
    world.settle();
    engine.handleControl("bus:phones", 0.25f);
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 0.25f);
    engine.setValue("bus:phones", 0.5f);
    EXPECT_FLOAT_EQ(engine.phonesBusVolume().volume(), 0.5f);
    EXPECT_TRUE(engine.volumes().empty()) << "no fixed target is taken for a bundle ID";
}

TEST_F(ControlTargetsTest, DeviceTargetsReachOnlyRoutedDevicesAndOnlyThroughSetValue) {
    world.setDefaultOutput(speakers);
    MixerEngine& engine = world.startEngine();

    engine.setValue("device:speakers-uid", 0.3f);
    EXPECT_TRUE(engine.routeVolumes().empty());
    EXPECT_TRUE(engine.volumes().empty()) << "an unrouted device changes nothing";

    engine.addOutput(*engine.deviceMonitor().device("interface-uid"), world.app(music));
    ASSERT_NE(engine.routeVolumeController("interface-uid"), nullptr);
    engine.setValue("device:interface-uid", 0.3f);
    EXPECT_FLOAT_EQ(engine.routeVolumeController("interface-uid")->volume(), 0.3f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 1.0f);
}

TEST_F(ControlTargetsTest, ApplicationVolumeReachesTheTapAndNotRunningApplicationsDiffer) {
    world.setDefaultOutput(speakers);
    MixerEngine& engine = world.startEngine();

    engine.handleControl(music.bundleID, 0.5f);
    EXPECT_FLOAT_EQ(engine.tap(music.bundleID)->volume(), 0.5f);
    engine.setValue(video.bundleID, 0.0f);
    EXPECT_FLOAT_EQ(engine.tap(video.bundleID)->volume(), 0.0f);

    // Not running: handleControl creates a stored setting, setValue only changes an existing one.
    engine.setValue(absent, 0.4f);
    EXPECT_FALSE(engine.volumes().count(absent));
    engine.handleControl(absent, 0.4f);
    ASSERT_TRUE(engine.volumes().count(absent));
    EXPECT_FLOAT_EQ(engine.volumes().at(absent).volume, 0.4f);
    EXPECT_EQ(engine.tap(absent), nullptr);
    engine.setValue(absent, 0.6f);
    EXPECT_FLOAT_EQ(engine.volumes().at(absent).volume, 0.6f);
    world.advance(0.4);
    EXPECT_FLOAT_EQ(VolumeStore(world.defaults).load().at(absent).volume, 0.6f);

    // Values out of range are limited before they are stored.
    engine.handleControl(absent, 3.0f);
    EXPECT_FLOAT_EQ(engine.volumes().at(absent).volume, 1.0f);
    engine.setValue(absent, -2.0f);
    EXPECT_FLOAT_EQ(engine.volumes().at(absent).volume, 0.0f);
    engine.handleControl(absent, std::nanf(""));
    EXPECT_FLOAT_EQ(engine.volumes().at(absent).volume, 0.0f);

    // The empty target names nothing.
    const auto before = engine.volumes();
    engine.handleControl("", 0.5f);
    engine.setValue("", 0.5f);
    EXPECT_EQ(engine.volumes(), before);
}

TEST_F(ControlTargetsTest, CueSwitchTogglesOnPressesOnlyAndACuedControlMovesTheCueLevel) {
    MixerEngine& engine = world.startEngine();
    ASSERT_TRUE(engine.isPaired());
    ASSERT_FALSE(engine.volumes().count(music.bundleID));

    const std::string cue = "cue:" + music.bundleID;
    engine.handleControl(cue, 1.0f);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued) << "an application without a setting is cued";
    engine.handleControl(cue, 0.0f);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued) << "a release does nothing";
    engine.handleControl(cue, ControlTarget::midiValue(64));
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
    engine.handleControl(cue, 0.49f);
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
    // setValue knows no switches: "cue:..." is just an unknown bundle ID there.
    engine.setValue(cue, 1.0f);
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
    EXPECT_FALSE(engine.volumes().count(cue));

    engine.handleControl(cue, 1.0f);
    engine.handleControl(music.bundleID, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).cueVolume, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 1.0f) << "the MAIN volume stays";

    // setValue moves the volume even of a cued application.
    engine.setValue(music.bundleID, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).cueVolume, 0.5f);
}

TEST_F(ControlTargetsTest, RecordTransportTogglesOncePerPress) {
    test::TempDir takes;
    MixRecorder& recorder = world.addRecorder(takes.path());
    world.setDefaultOutput(speakers);
    MixerEngine& engine = world.startEngine();

    engine.handleControl("transport:record", 1.0f);
    EXPECT_TRUE(engine.isRecording());
    EXPECT_TRUE(recorder.isTakeOpen());
    engine.handleControl("transport:record", 0.0f);
    EXPECT_TRUE(engine.isRecording()) << "the release of the button does nothing";
    world.runAudio(0.2);
    engine.handleControl("transport:record", 1.0f);
    EXPECT_FALSE(engine.isRecording());
    EXPECT_FALSE(recorder.isTakeOpen());
    engine.handleControl("transport:record", 0.0f);
    EXPECT_FALSE(engine.isRecording());
    world.dropEngine();
}

} // namespace
} // namespace orevant
