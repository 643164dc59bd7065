#include "engine/mixer_engine.h"

#include "audio/volume_controlling.h"
#include "midi/midi_mapping_manager.h"
#include "remote/osc_listener.h"
#include "remote/osc_test_peer.h"
#include "remote/pairing_pin.h"
#include "support/counting_companion_bridge.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace orevant {
namespace {

using test::CountingCompanionBridge;
using test::EngineFixture;
using test::OSCTestPeer;
using test::SimApp;

// A bound on waiting for loopback datagrams that only a fault reaches.
constexpr double kGenerousSeconds = 10.0;

class CompanionCallbacksTest : public ::testing::Test {
protected:
    EngineFixture world;
    AudioObjectID interface = world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
    SimApp music = world.addApp("com.example.music", "Music", 440.0);
    SimApp video = world.addApp("com.example.video", "Video", 550.0);
    CountingCompanionBridge* bridge = nullptr;
    OSCTestPeer phone;
    size_t sent = 0;

    MixerEngine& start() {
        world.makeEngine();
        auto owned = std::make_unique<CountingCompanionBridge>();
        bridge = owned.get();
        world.engine->setCompanionBridge(std::move(owned));
        return world.startEngine();
    }

    // One datagram from the phone, handled by the listener and then by the main queue.
    void send(const std::string& pin, const std::string& rest, float value) {
        OSCListener& listener = world.engine->oscListener();
        phone.sendTo(listener.port(), test::floatMessage("/a/" + pin + rest, value));
        ASSERT_TRUE(listener.waitUntilHandled(++sent, kGenerousSeconds));
        world.queue.runUntilIdle();
    }
};

// Faults: a reissued PIN that still admitted the old one, or kept answering the forgotten phone.
TEST_F(CompanionCallbacksTest, ReissuingThePINForgetsThePhoneAndRefusesTheOldPIN) {
    MixerEngine& engine = start();
    const std::string pin = engine.pairingPIN().pin();
    send(pin, "/volume/" + music.bundleID, 0.5f);
    EXPECT_EQ(*engine.iphoneEndpoint(), (NetworkEndpoint{"127.0.0.1", phone.port()}));
    EXPECT_GE(bridge->scheduledAppLists, 1) << "the phone is answered with the application list";

    int notifications = 0;
    auto token = engine.addObserver([&] { ++notifications; });
    engine.resetCompanionPairing();
    const std::string fresh = engine.pairingPIN().pin();
    EXPECT_TRUE(PairingPIN::isValid(fresh));
    EXPECT_EQ(world.defaults.string(PairingPIN::kDefaultsKey), std::optional<std::string>(fresh));
    EXPECT_FALSE(engine.iphoneEndpoint().has_value());
    EXPECT_GE(notifications, 1) << "the pairing panel sees the phone go";
    if (fresh != pin) {
        send(pin, "/volume/" + music.bundleID, 0.9f);
        EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.5f);
        EXPECT_FALSE(engine.iphoneEndpoint().has_value());
    }
    send(fresh, "/volume/" + music.bundleID, 0.9f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.9f);
    EXPECT_TRUE(engine.iphoneEndpoint().has_value());
}

// Faults: a command wired to the wrong action, a value not limited, a setting created for an
// application the phone only names, a switch the phone may not throw.
TEST_F(CompanionCallbacksTest, EveryCompanionCommandReachesItsEngineAction) {
    MixerEngine& engine = start();
    ASSERT_TRUE(engine.isPaired());
    const std::string pin = engine.pairingPIN().pin();
    const auto setting = [&](const std::string& id) {
        return engine.volumes().count(id) ? engine.volumes().at(id) : AppVolume{};
    };
    const struct {
        std::string rest;
        float value;
        std::function<bool()> done;
    } steps[] = {
        {"/cue/" + music.bundleID, 1.0f, [&] { return setting(music.bundleID).isCued; }},
        {"/cuevolume/" + music.bundleID, 1.5f, [&] { return setting(music.bundleID).cueVolume == 1.0f; }},
        {"/cuevolume/" + music.bundleID, 0.5f, [&] { return setting(music.bundleID).cueVolume == 0.5f; }},
        {"/cue/" + music.bundleID, 0.0f, [&] { return !setting(music.bundleID).isCued; }},
        {"/cuevolume/" + video.bundleID, 0.5f, [&] { return engine.volumes().count(video.bundleID) == 0; }},
        {"/volume/com.example.absent", 0.3f, [&] { return engine.volumes().count("com.example.absent") == 0; }},
        {"/panic", 1.0f, [&] { return engine.isPanicked(); }},
        {"/panic", 0.0f, [&] { return !engine.isPanicked(); }},
        {"/autorec", 1.0f, [&] { return !engine.isAutoRec(); }}, // switched from the mixer window only
        {"/slot/4/" + video.bundleID, 1.0f, [&] { return engine.slots()[4] == video.bundleID; }},
        {"/slot/9/" + music.bundleID, 1.0f,
         [&] { return std::count(engine.slots().begin(), engine.slots().end(), music.bundleID) == 0; }},
        {"/snapshot/save", 1.0f,
         [&] { return engine.snapshots().size() == 1 && engine.snapshots().front().name == "Scene 1"; }},
        {"/volume/bus:phones", 0.25f, [&] { return engine.phonesController()->volume() == 0.25f; }},
        {"/snapshot/0", 1.0f, [&] { return engine.phonesController()->volume() == 1.0f; }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.rest);
        send(pin, step.rest, step.value);
        EXPECT_TRUE(step.done());
    }
}

TEST_F(CompanionCallbacksTest, NumberedControlLearnsWithoutASourceThenDrivesItsTarget) {
    MixerEngine& engine = start();
    const std::string pin = engine.pairingPIN().pin();
    engine.midiMapping().setLearningTarget("bus:phones");
    send(pin, "/orevant/3", 0.2f);
    ASSERT_EQ(engine.midiMapping().mappings().count("3"), 1u);
    EXPECT_EQ(engine.midiMapping().mappings().at("3").target, "bus:phones");
    EXPECT_EQ(engine.midiMapping().mappings().at("3").sourceID, std::nullopt);
    EXPECT_FLOAT_EQ(engine.phonesController()->volume(), 1.0f) << "the learning message is not applied";

    send(pin, "/orevant/3", 0.4f);
    EXPECT_FLOAT_EQ(engine.phonesController()->volume(), 0.4f);
    send(pin, "/orevant/4", 0.1f); // no mapping
    send(pin, "/orevant/x", 0.1f); // not a number
    EXPECT_FLOAT_EQ(engine.phonesController()->volume(), 0.4f);
}

TEST_F(CompanionCallbacksTest, CallbacksOutlivingTheEngineDoNothing) {
    MixerEngine& engine = start();
    // What a callback would find if it were still held after the engine went.
    OSCCallbacks copy = static_cast<const OSCCallbacks&>(engine.oscListener());
    ASSERT_TRUE(copy.onAppVolumeReceived);
    world.dropEngine();
    const size_t scenesWritten = world.defaults.writeCount("mixSnapshots");
    const size_t slotsWritten = world.defaults.writeCount("consoleSlots");
    copy.onAppVolumeReceived("bus:main", 0.3f);
    copy.onIPhoneConnected(NetworkEndpoint{"127.0.0.1", 4000});
    copy.onSnapshotSaveReceived();
    copy.onSlotReceived(5, "bus:main");
    copy.onOREVANTValueReceived(7, 1.0f);
    world.queue.runUntilIdle();
    EXPECT_EQ(world.defaults.writeCount("mixSnapshots"), scenesWritten);
    EXPECT_EQ(world.defaults.writeCount("consoleSlots"), slotsWritten);
}

} // namespace
} // namespace orevant
