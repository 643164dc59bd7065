// The phone companion's feedback over real loopback UDP: a test client plays the phone, sends
// its commands to the engine's OSC listener and receives "/app/list" and "/meters" on the reply
// port of its host.
#include "engine/osc_companion_bridge.h"

#include "audio/audio_process_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "engine/mixer_app_state.h"
#include "engine/mixer_engine.h"
#include "remote/osc_listener.h"
#include "remote/osc_sender.h"
#include "remote/osc_test_peer.h"
#include "remote/pairing_pin.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace orevant {
namespace {

using test::OSCTestPeer;

// Bounds that only a fault reaches; nothing waits for them when all is well.
constexpr double kGenerousSeconds = 10.0;
constexpr int kGenerousMs = 10000;

const AppEntry* row(const MixerAppState& state, const std::string& bundleID) {
    for (const AppEntry& entry : state.apps) {
        if (entry.bundleID == bundleID) return &entry;
    }
    return nullptr;
}

std::vector<std::string> rowIDs(const MixerAppState& state) {
    std::vector<std::string> ids;
    for (const AppEntry& entry : state.apps) ids.push_back(entry.bundleID);
    return ids;
}

class CompanionBridgeTest : public ::testing::Test {
protected:
    test::EngineFixture world;
    // The phone sends from one socket and hears on another: the replies must go to the reply
    // port of its host, not to the port its messages came from.
    OSCTestPeer phone;
    OSCTestPeer phoneInbox;
    std::shared_ptr<OSCSender> sender = std::make_shared<OSCSender>();
    OSCCompanionBridge* bridge = nullptr;
    size_t sent = 0;

    MixerEngine& startEngine() {
        MixerEngine& engine = world.makeEngine();
        auto owned = std::make_unique<OSCCompanionBridge>(engine, world.queue, phoneInbox.port(), sender);
        bridge = owned.get();
        engine.setCompanionBridge(std::move(owned));
        return world.startEngine();
    }

    // Sends one command carrying `pin` and runs what the listener handed to the main queue.
    void command(const std::string& pathAfterPIN, float value, const std::string& pin) {
        phone.sendTo(world.engine->oscListener().port(), test::floatMessage("/a/" + pin + pathAfterPIN, value));
        ++sent;
        ASSERT_TRUE(world.engine->oscListener().waitUntilHandled(sent, kGenerousSeconds));
        world.queue.runUntilIdle();
    }
    void command(const std::string& pathAfterPIN, float value) {
        command(pathAfterPIN, value, world.engine->pairingPIN().pin());
    }

    // The next datagram in the phone's inbox as (address, text); nothing when none is there.
    // Sends are synchronous on loopback, so "nothing there now" means "nothing was sent".
    std::optional<test::StringMessage> nextReply(int timeoutMs = 0) {
        auto bytes = phoneInbox.receive(timeoutMs);
        if (!bytes) return std::nullopt;
        auto message = test::decodeStringMessage(*bytes);
        EXPECT_TRUE(message.has_value()) << "every reply is one string message";
        return message;
    }

    std::optional<MixerAppState> nextAppList() {
        auto reply = nextReply();
        if (!reply) return std::nullopt;
        EXPECT_EQ(reply->address, "/app/list");
        auto state = MixerAppState::decode(reply->value);
        EXPECT_TRUE(state.has_value()) << reply->value;
        return state;
    }

    void drainInbox() {
        while (phoneInbox.receive(0)) {}
    }
    // An admitted message from the phone at `endpoint`; the list the engine answers with is
    // dropped.
    void phoneConnects(const NetworkEndpoint& endpoint) {
        world.engine->oscListener().onIPhoneConnected(endpoint);
        drainInbox();
    }
};

TEST_F(CompanionBridgeTest, PhoneSetsAVolumeAndReadsItBackFromTheApplicationList) {
    world.addOutputDevice("speakers", "Speakers");
    const test::SimApp music = world.addApp("com.example.music", "Music");
    startEngine();
    EXPECT_FALSE(nextReply().has_value()) << "nothing is sent before a phone is known";

    command("/volume/" + music.bundleID, 0.5f);
    ASSERT_TRUE(world.engine->iphoneEndpoint().has_value());
    EXPECT_EQ(world.engine->iphoneEndpoint()->port, phone.port());
    // The phone is answered first, then its command acts: the first list still shows 1.0.
    auto first = nextAppList();
    ASSERT_TRUE(first.has_value());
    ASSERT_NE(row(*first, music.bundleID), nullptr);
    EXPECT_FLOAT_EQ(row(*first, music.bundleID)->volume, 1.0f);
    drainInbox();

    // A dragging phone sends again; the answer to that message carries the new level.
    command("/volume/" + music.bundleID, 0.5f);
    auto second = nextAppList();
    ASSERT_TRUE(second.has_value());
    const AppEntry* entry = row(*second, music.bundleID);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, "Music");
    EXPECT_FLOAT_EQ(entry->volume, 0.5f);
    EXPECT_FALSE(entry->isSystem);
    EXPECT_FALSE(phone.receive(0).has_value()) << "nothing goes to the port the phone sends from";
}

TEST_F(CompanionBridgeTest, TenBadPINsLockThePhoneOutForTenSeconds) {
    world.addOutputDevice("speakers", "Speakers");
    const test::SimApp music = world.addApp("com.example.music", "Music");
    startEngine();
    const std::string pin = world.engine->pairingPIN().pin();
    const std::string wrong = pin == "000000" ? "111111" : "000000";

    for (int i = 0; i < 10; ++i) command("/volume/" + music.bundleID, 0.2f, wrong);
    command("/volume/" + music.bundleID, 0.2f, pin);
    EXPECT_FALSE(world.engine->iphoneEndpoint().has_value());
    EXPECT_FALSE(nextReply().has_value());
    EXPECT_EQ(world.engine->volumes().count(music.bundleID), 0u) << "a refused command does nothing";

    world.advance(9.5);
    command("/volume/" + music.bundleID, 0.2f, pin);
    EXPECT_FALSE(nextReply().has_value()) << "still inside the ten seconds";

    world.advance(0.6);
    command("/volume/" + music.bundleID, 0.2f, pin);
    auto list = nextAppList();
    ASSERT_TRUE(list.has_value()) << "the right PIN is admitted once the lockout is over";
    world.queue.runUntilIdle();
    EXPECT_FLOAT_EQ(world.engine->volumes().at(music.bundleID).volume, 0.2f);
}

TEST_F(CompanionBridgeTest, FixedRowsComeFirstAndAnUnpairedDeviceOffersNoCue) {
    world.addOutputDevice("speakers", "Speakers");
    MixerEngine& engine = startEngine();
    phoneConnects(NetworkEndpoint{"127.0.0.1", phone.port()});

    // No applications: the four fixed rows alone.
    bridge->sendAppList();
    auto empty = nextAppList();
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(rowIDs(*empty), (std::vector<std::string>{"system_output", "system_input", "bus:main", "bus:phones"}));
    const std::vector<std::string> names{"Output", "Input", "MAIN", "PHONES"};
    for (size_t i = 0; i < 4; ++i) {
        const AppEntry& fixed = empty->apps[i];
        EXPECT_EQ(fixed.name, names[i]);
        EXPECT_TRUE(fixed.isSystem);
        EXPECT_FALSE(fixed.isCued);
        EXPECT_FALSE(fixed.canCue);
        EXPECT_FLOAT_EQ(fixed.cueVolume, 1.0f);
    }
    EXPECT_FALSE(empty->apps[2].isEmpty) << "MAIN has the default output device";
    EXPECT_FLOAT_EQ(empty->apps[2].volume, empty->apps[0].volume);
    EXPECT_TRUE(empty->apps[3].isEmpty) << "a stereo device has no PHONES pair";
    EXPECT_FLOAT_EQ(empty->apps[3].volume, 0.0f);
    EXPECT_EQ(empty->slots, engine.slots());
    EXPECT_TRUE(empty->snapshotNames.empty());
    EXPECT_FALSE(empty->isPanicked);

    // Applications follow in the process monitor's order; one without settings shows defaults.
    const test::SimApp music = world.addApp("com.example.music", "Music");
    const test::SimApp voice = world.addApp("com.example.voice", "Voice");
    world.settle();
    engine.setVolume(0.25f, world.app(voice));
    engine.saveScene("Evening");
    drainInbox();
    bridge->sendAppList();
    auto full = nextAppList();
    ASSERT_TRUE(full.has_value());
    ASSERT_EQ(full->apps.size(), 6u);
    std::vector<std::string> expected{"system_output", "system_input", "bus:main", "bus:phones"};
    for (const AudioApp& app : engine.processMonitor().apps()) expected.push_back(app.bundleID);
    EXPECT_EQ(rowIDs(*full), expected);
    const AppEntry* fresh = row(*full, music.bundleID);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FLOAT_EQ(fresh->volume, 1.0f);
    EXPECT_FALSE(fresh->isCued);
    EXPECT_FLOAT_EQ(fresh->cueVolume, 1.0f);
    EXPECT_FALSE(fresh->canCue);
    ASSERT_NE(row(*full, voice.bundleID), nullptr);
    EXPECT_FLOAT_EQ(row(*full, voice.bundleID)->volume, 0.25f);
    EXPECT_EQ(full->snapshotNames, std::vector<std::string>{"Evening"});
}

TEST_F(CompanionBridgeTest, PairedInterfaceOffersCueAndShowsThePhonesLevel) {
    world.addOutputDevice("interface", "Interface", 4);
    const test::SimApp music = world.addApp("com.example.music", "Music");
    MixerEngine& engine = startEngine();
    engine.setBusPairing("interface", 0, 2);
    ASSERT_TRUE(engine.isPaired());
    phoneConnects(NetworkEndpoint{"127.0.0.1", phone.port()});

    engine.phonesBusVolume().setVolume(0.7f); // a PHONES level change refreshes the phone
    world.queue.runUntilIdle();
    engine.setCue(true, music.bundleID);
    engine.setPanicked(true);
    drainInbox();
    bridge->sendAppList();
    auto state = nextAppList();
    ASSERT_TRUE(state.has_value());
    const AppEntry* phones = row(*state, "bus:phones");
    ASSERT_NE(phones, nullptr);
    EXPECT_FALSE(phones->isEmpty);
    EXPECT_FLOAT_EQ(phones->volume, 0.7f);
    EXPECT_FALSE(phones->canCue) << "the fixed rows never cue";
    const AppEntry* entry = row(*state, music.bundleID);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->canCue);
    EXPECT_TRUE(entry->isCued);
    EXPECT_TRUE(state->isPanicked);
}

TEST_F(CompanionBridgeTest, ScheduledSendsJoinOneFiftyMillisecondWindow) {
    world.addOutputDevice("speakers", "Speakers");
    startEngine();

    bridge->scheduleAppListSend();
    EXPECT_FALSE(bridge->isAppListSendPending()) << "no phone known: nothing is scheduled";
    world.advance(0.1);
    EXPECT_FALSE(nextReply().has_value());

    phoneConnects(NetworkEndpoint{"127.0.0.1", phone.port()});
    for (int i = 0; i < 10; ++i) {
        bridge->scheduleAppListSend();
        world.advance(0.004);
    }
    EXPECT_FALSE(nextReply().has_value());
    world.advance(0.0095); // 49.5 ms after the first request
    EXPECT_FALSE(nextReply().has_value());
    world.advance(0.001);
    auto reply = nextReply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->address, "/app/list");
    EXPECT_FALSE(nextReply().has_value()) << "ten requests, one message";
    EXPECT_FALSE(bridge->isAppListSendPending());

    // The next request opens a new window.
    bridge->scheduleAppListSend();
    world.advance(0.051);
    EXPECT_TRUE(nextReply().has_value());
}

TEST_F(CompanionBridgeTest, MeterFramesGoToTheReplyPortWithThreeDecimals) {
    world.addOutputDevice("speakers", "Speakers");
    startEngine();
    bridge->sendMeters({{"com.example.music", 0.5f}});
    EXPECT_FALSE(nextReply().has_value()) << "no phone, no meters";

    // The phone's messages came from some port; the meters go to the reply port of that host.
    phoneConnects(NetworkEndpoint{"127.0.0.1", 50123});
    bridge->sendMeters(
        {{"com.example.music", 0.12345f}, {"com.example.voice", 0.0005f}, {"com.example.quiet", 0.0004f}});
    auto reply = nextReply();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->address, "/meters");
    const nlohmann::json levels = nlohmann::json::parse(reply->value);
    ASSERT_TRUE(levels.is_object());
    EXPECT_EQ(levels.size(), 3u);
    EXPECT_DOUBLE_EQ(levels.at("com.example.music").get<double>(), 0.123);
    EXPECT_DOUBLE_EQ(levels.at("com.example.voice").get<double>(), 0.001);
    EXPECT_DOUBLE_EQ(levels.at("com.example.quiet").get<double>(), 0.0);

    bridge->sendMeters({});
    auto silent = nextReply();
    ASSERT_TRUE(silent.has_value());
    EXPECT_EQ(silent->value, "{}");
}

TEST(CompanionDocumentsTest, MeterLevelsRoundHalfAwayFromZero) {
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(0.12345f), 0.123f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(0.0005f), 0.001f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(0.0025f), 0.003f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(-0.0005f), -0.001f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(0.0004f), 0.0f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    // Levels are written as the short decimal the phone expects, not as a widened float.
    EXPECT_EQ(OSCCompanionBridge::encodeMeters({{"a", 0.3f}, {"b", 0.12345f}}), R"({"a":0.3,"b":0.123})");

    EXPECT_EQ(OSCCompanionBridge::replyEndpoint(NetworkEndpoint{"192.168.1.20", 50123}, OSCCompanionBridge::kReplyPort),
              (NetworkEndpoint{"192.168.1.20", 9001}));
    EXPECT_EQ(OSCCompanionBridge::replyEndpoint(NetworkEndpoint{"fe80::1%en0", 50123}, 9001).description(),
              "[fe80::1%en0]:9001");
}

TEST(CompanionDocumentsTest, AppListKeepsItsKeyOrderAndDecodesStrictly) {
    MixerAppState state;
    AppEntry entry;
    entry.bundleID = "com.example.music";
    entry.name = "Music";
    entry.volume = 0.3f;
    entry.canCue = true;
    state.apps = {entry};
    state.slots = {"bus:main", ""};
    state.snapshotNames = {"Evening"};
    state.isPanicked = true;

    const std::string text = state.encode();
    EXPECT_EQ(text, R"({"apps":[{"bundleID":"com.example.music","name":"Music","volume":0.3,"isSystem":false,)"
                    R"("isCued":false,"canCue":true,"cueVolume":1.0,"isEmpty":false}],"slots":["bus:main",""],)"
                    R"("snapshotNames":["Evening"],"isPanicked":true})");
    EXPECT_EQ(MixerAppState::decode(text), std::optional<MixerAppState>(state));

    // Every key of an entry is required, with its type.
    nlohmann::json missing = nlohmann::json::parse(text);
    missing["apps"][0].erase("isEmpty");
    EXPECT_FALSE(MixerAppState::decode(missing.dump()).has_value());
    nlohmann::json wrongType = nlohmann::json::parse(text);
    wrongType["apps"][0]["volume"] = "loud";
    EXPECT_FALSE(MixerAppState::decode(wrongType.dump()).has_value());
    EXPECT_FALSE(MixerAppState::decode("[]").has_value());
    EXPECT_FALSE(MixerAppState::decode("{\"apps\":").has_value());

    // A name that is not UTF-8 costs the phone one character, not the whole list.
    state.apps[0].name = std::string("Mus\xff"
                                     "ic");
    auto decoded = MixerAppState::decode(state.encode());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->apps[0].name, "Mus\xef\xbf\xbd"
                                     "ic");
}

} // namespace
} // namespace orevant
