#include "engine/mixer_engine.h"

#include "audio/volume_controlling.h"
#include "midi/midi_mapping_manager.h"
#include "remote/osc_listener.h"
#include "remote/osc_test_peer.h"
#include "remote/pairing_pin.h"
#include "support/counting_companion_bridge.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orevant {
namespace {

using test::CountingCompanionBridge;
using test::EngineFixture;
using test::OSCTestPeer;
using test::SimApp;

constexpr float kSineRMS = 0.5f * 0.70710678f;
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

TEST_F(CompanionCallbacksTest, PhoneVolumeMessageOverLoopbackSetsTheVolumeAndAnswersThePhone) {
    MixerEngine& engine = start();
    const std::string pin = engine.pairingPIN().pin();
    const int listsBefore = bridge->scheduledAppLists;

    send(pin, "/volume/" + music.bundleID, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.5f);
    ASSERT_TRUE(engine.iphoneEndpoint().has_value());
    EXPECT_EQ(*engine.iphoneEndpoint(), (NetworkEndpoint{"127.0.0.1", phone.port()}));
    EXPECT_EQ(bridge->scheduledAppLists, listsBefore + 1) << "the phone is answered with the application list";
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(interface, 0), std::sqrt(std::pow(kSineRMS * 0.125f, 2.0f) + kSineRMS * kSineRMS), 0.01);

    // "/volume/" is a direct level: it creates no setting for an application that is not running.
    send(pin, "/volume/com.example.absent", 0.3f);
    EXPECT_FALSE(engine.volumes().count("com.example.absent"));

    // Reissuing the PIN forgets the phone; the old PIN is refused, the new one admitted.
    engine.resetCompanionPairing();
    const std::string fresh = engine.pairingPIN().pin();
    ASSERT_FALSE(engine.iphoneEndpoint().has_value());
    if (fresh != pin) {
        send(pin, "/volume/" + music.bundleID, 0.9f);
        EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.5f);
        EXPECT_FALSE(engine.iphoneEndpoint().has_value());
    }
    send(fresh, "/volume/" + music.bundleID, 0.9f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.9f);
    EXPECT_TRUE(engine.iphoneEndpoint().has_value());
}

TEST_F(CompanionCallbacksTest, EveryCompanionCommandReachesItsEngineAction) {
    MixerEngine& engine = start();
    ASSERT_TRUE(engine.isPaired());
    const std::string pin = engine.pairingPIN().pin();

    send(pin, "/cue/" + music.bundleID, 1.0f);
    EXPECT_TRUE(engine.volumes().at(music.bundleID).isCued);
    send(pin, "/cuevolume/" + music.bundleID, 0.5f);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).cueVolume, 0.5f);
    world.runAudio(0.3);
    EXPECT_NEAR(world.rms(interface, 2), kSineRMS * 0.125f, 0.004) << "PHONES: only the cued music at 0.5";
    send(pin, "/cue/" + music.bundleID, 0.0f);
    EXPECT_FALSE(engine.volumes().at(music.bundleID).isCued);
    // The cue level of an application without a setting is not created.
    send(pin, "/cuevolume/" + video.bundleID, 0.5f);
    EXPECT_FALSE(engine.volumes().count(video.bundleID));

    send(pin, "/panic", 1.0f);
    EXPECT_TRUE(engine.isPanicked());
    world.runAudio(0.3);
    EXPECT_LT(world.peak(interface, 0), 0.001f);
    send(pin, "/panic", 0.0f);
    EXPECT_FALSE(engine.isPanicked());

    send(pin, "/autorec", 1.0f);
    EXPECT_FALSE(engine.isAutoRec()) << "automatic recording is switched from the mixer window only";

    send(pin, "/slot/4/" + video.bundleID, 1.0f);
    EXPECT_EQ(engine.slots()[4], video.bundleID);
    send(pin, "/slot/9/" + video.bundleID, 1.0f);
    EXPECT_EQ(engine.slots().size(), MixerEngine::kSlotCount);

    send(pin, "/snapshot/save", 1.0f);
    ASSERT_EQ(engine.snapshots().size(), 1u);
    EXPECT_EQ(engine.snapshots().front().name, "Scene 1");
    send(pin, "/volume/bus:phones", 0.25f);
    send(pin, "/snapshot/0", 1.0f);
    EXPECT_FLOAT_EQ(engine.phonesController()->volume(), 1.0f) << "the scene's PHONES level is back";
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
