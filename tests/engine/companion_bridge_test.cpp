// The phone companion's feedback over real loopback UDP: a test client plays the phone, sends
// its commands to the engine's OSC listener and receives "/app/list" and "/meters" on the reply
// port of its host.
#include "engine/osc_companion_bridge.h"

#include "audio/audio_process_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "engine/companion_text.h"
#include "engine/mixer_app_state.h"
#include "engine/mixer_engine.h"
#include "engine/scene_book.h"
#include "midi/midi_mapping_manager.h"
#include "persistence/snapshot_store.h"
#include "remote/osc_listener.h"
#include "remote/osc_sender.h"
#include "remote/osc_test_peer.h"
#include "remote/pairing_pin.h"
#include "support/engine_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

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
    test::SimApp music;

    MixerEngine& startEngine() {
        MixerEngine& engine = world.makeEngine();
        auto owned = std::make_unique<OSCCompanionBridge>(engine, world.queue, phoneInbox.port(), sender);
        bridge = owned.get();
        engine.setCompanionBridge(std::move(owned));
        return world.startEngine();
    }
    // A paired interface as the default output, with Music playing.
    MixerEngine& startPaired() {
        world.addOutputDevice("interface-uid", "Interface", 4, transport::usb);
        music = world.addApp("com.example.music", "Music");
        return startEngine();
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
    // The list sent now, whatever was in the inbox before.
    MixerAppState listNow() {
        drainInbox();
        bridge->sendAppList();
        auto state = nextAppList();
        EXPECT_TRUE(state.has_value());
        return state.value_or(MixerAppState{});
    }
    // An admitted message from the phone at `endpoint`; the list the engine answers with at the
    // end of its 50 ms window is dropped.
    void phoneConnects(const NetworkEndpoint& endpoint) {
        world.engine->oscListener().onIPhoneConnected(endpoint);
        world.advance(0.05);
        drainInbox();
    }
    // Every "/app/list" now in the inbox, oldest first.
    std::vector<MixerAppState> appLists() {
        std::vector<MixerAppState> lists;
        while (auto reply = nextReply()) {
            if (auto state = MixerAppState::decode(reply->value); reply->address == "/app/list" && state)
                lists.push_back(*state);
        }
        return lists;
    }
};

// The phone was answered before its message acted, so the only list it got showed the state
// before its own change. Whatever it changes, the last list it receives shows the change.
TEST_F(CompanionBridgeTest, LastListThePhoneReceivesShowsItsOwnChange) {
    world.addOutputDevice("speakers", "Speakers");
    music = world.addApp("com.example.music", "Music");
    startEngine();
    EXPECT_FALSE(nextReply().has_value()) << "nothing is sent before a phone is known";

    struct Case {
        std::string command;
        float value;
        std::function<bool(const MixerAppState&)> shows;
    };
    const std::vector<Case> cases{
        {"/volume/" + music.bundleID, 0.5f,
         [&](const MixerAppState& s) { return row(s, music.bundleID) && row(s, music.bundleID)->volume == 0.5f; }},
        {"/panic", 1.0f, [](const MixerAppState& s) { return s.isPanicked; }},
        {"/slot/3/" + music.bundleID, 1.0f, [&](const MixerAppState& s) { return s.slots[3] == music.bundleID; }},
        {"/snapshot/save", 1.0f, [](const MixerAppState& s) { return s.snapshotNames.size() == 1; }},
        {"/panic", 0.0f, [](const MixerAppState& s) { return !s.isPanicked; }},
        // Written to the device on its own queue; the device's answer refreshes the phone again.
        {"/volume/system_output", 0.3f,
         [](const MixerAppState& s) { return std::fabs(s.apps[0].volume - 0.3f) < 1e-3f; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        command(c.command, c.value);
        world.advance(0.5);
        const std::vector<MixerAppState> lists = appLists();
        ASSERT_EQ(lists.size(), 1u);
        EXPECT_TRUE(c.shows(lists.back()));
    }
    EXPECT_FALSE(phone.receive(0).has_value()) << "nothing goes to the port the phone sends from";
}

TEST_F(CompanionBridgeTest, FixedRowsComeFirstAndOnlyAPairedDeviceOffersCueAndPhones) {
    world.addOutputDevice("speakers", "Speakers");
    MixerEngine& engine = startEngine();
    phoneConnects(NetworkEndpoint{"127.0.0.1", phone.port()});

    // No applications: the four fixed rows alone.
    const MixerAppState empty = listNow();
    const std::vector<std::string> fixed{"system_output", "system_input", "bus:main", "bus:phones"};
    ASSERT_EQ(rowIDs(empty), fixed);
    const std::vector<std::string> names{"Output", "Input", "MAIN", "PHONES"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(empty.apps[i].name, names[i]);
        EXPECT_TRUE(empty.apps[i].isSystem && !empty.apps[i].canCue);
    }
    EXPECT_FALSE(empty.apps[2].isEmpty) << "MAIN has the default output device";
    EXPECT_TRUE(empty.apps[3].isEmpty) << "a stereo device has no PHONES pair";
    EXPECT_EQ(empty.slots, engine.slots());

    // Applications follow in the process monitor's order; one without settings shows defaults.
    music = world.addApp("com.example.music", "Music");
    const test::SimApp voice = world.addApp("com.example.voice", "Voice");
    world.settle();
    engine.setVolume(0.25f, world.app(voice));
    engine.saveScene("Evening");
    const MixerAppState full = listNow();
    std::vector<std::string> expected = fixed;
    for (const AudioApp& app : engine.processMonitor().apps()) expected.push_back(app.bundleID);
    ASSERT_EQ(rowIDs(full), expected);
    ASSERT_EQ(full.apps.size(), 6u);
    EXPECT_FLOAT_EQ(row(full, music.bundleID)->volume, 1.0f) << "no setting: the default";
    EXPECT_FALSE(row(full, music.bundleID)->canCue);
    EXPECT_FLOAT_EQ(row(full, voice.bundleID)->volume, 0.25f);
    EXPECT_EQ(full.snapshotNames, std::vector<std::string>{"Evening"});

    // A paired interface as the default: PHONES shows its level and applications offer a cue.
    world.setDefaultOutput(world.addOutputDevice("interface", "Interface", 4));
    world.settle();
    ASSERT_TRUE(engine.isPaired());
    engine.phonesBusVolume().setVolume(0.7f);
    world.queue.runUntilIdle();
    engine.setCue(true, music.bundleID);
    const MixerAppState paired = listNow();
    ASSERT_EQ(paired.apps.size(), 6u);
    EXPECT_FALSE(paired.apps[3].isEmpty);
    EXPECT_FLOAT_EQ(paired.apps[3].volume, 0.7f);
    EXPECT_FALSE(paired.apps[3].canCue) << "the fixed rows never cue";
    EXPECT_TRUE(row(paired, music.bundleID)->canCue && row(paired, music.bundleID)->isCued);
}

// Faults: a list per request instead of one per 50 ms window; lists or meters sent before a phone
// is known; meters sent to the port the phone sent from instead of its host's reply port.
TEST_F(CompanionBridgeTest, ListsJoinOneFiftyMillisecondWindowAndMetersGoToTheReplyPort) {
    world.addOutputDevice("speakers", "Speakers");
    startEngine();

    bridge->scheduleAppListSend();
    EXPECT_FALSE(bridge->isAppListSendPending()) << "no phone known: nothing is scheduled";
    bridge->sendMeters({{"com.example.music", 0.5f}});
    world.advance(0.1);
    EXPECT_FALSE(nextReply().has_value());

    phoneConnects(NetworkEndpoint{"127.0.0.1", 50123});
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

    bridge->sendMeters({{"com.example.music", 0.12345f}});
    auto meters = nextReply();
    ASSERT_TRUE(meters.has_value());
    EXPECT_EQ(meters->address, "/meters");
    EXPECT_EQ(meters->value, R"({"com.example.music":0.123})");
    bridge->sendMeters({});
    auto silent = nextReply();
    ASSERT_TRUE(silent.has_value());
    EXPECT_EQ(silent->value, "{}");
}

// One 65,000-byte slot target or a few hundred applications once made "/app/list" too big for
// a datagram, and nothing was sent again (slots persist). The document always fits: texts are
// bounded, applications at the end go first, the fixed part never.
TEST_F(CompanionBridgeTest, OversizedStateStillReachesThePhoneInOneDatagram) {
    world.addOutputDevice("speakers", "Speakers");
    std::vector<std::string> appIDs;
    for (int i = 0; i < 200; ++i) {
        appIDs.push_back("com.example.app" + std::to_string(i));
        world.addApp(appIDs.back(), std::string(300, 'n'), 440.0, 0.5f, false);
    }
    MixerEngine& engine = startEngine();
    // Scene names that each cost twice their bytes in JSON, as many as may be kept.
    for (size_t i = 0; i < SceneBook::kMaxScenes; ++i) engine.saveScene(std::to_string(i) + std::string(300, '"'));
    std::string target;
    while (target.size() < 65000) target += "\xc3\xa9"; // "é": a cut must not split it
    command("/slot/0/" + target, 1.0f);
    world.advance(0.05);

    for (int send = 0; send < 2; ++send) {
        auto bytes = phoneInbox.receive(kGenerousMs);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_LE(bytes->size(), 60000u);
        auto message = test::decodeStringMessage(*bytes);
        ASSERT_TRUE(message.has_value());
        auto state = MixerAppState::decode(message->value);
        ASSERT_TRUE(state.has_value());
        const std::vector<std::string> ids = rowIDs(*state);
        ASSERT_GT(ids.size(), MixerAppState::kFixedRows);
        ASSERT_LT(ids.size(), MixerAppState::kFixedRows + appIDs.size());
        EXPECT_EQ(ids[3], "bus:phones");
        // The applications kept are the first ones, in order.
        EXPECT_TRUE(std::equal(ids.begin() + MixerAppState::kFixedRows, ids.end(), appIDs.begin()));
        EXPECT_EQ(state->apps[MixerAppState::kFixedRows].name.size(), 255u);
        EXPECT_EQ(state->slots[0], target.substr(0, 254));
        EXPECT_EQ(state->snapshotNames.size(), SceneBook::kMaxScenes);
        bridge->sendAppList();
    }
    EXPECT_EQ(world.logs->count("too long for one datagram"), 1u);
}

// 3,000 scene saves (each written to disk at once) or 100,000 cues for unknown IDs (each adding
// a setting) once wedged the agent, and every message was answered with the whole list. A flood
// now keeps its order and costs at most one write per key per 0.4 s and one list per 50 ms.
TEST_F(CompanionBridgeTest, FloodKeepsItsOrderWithOneWriteAndOneListPerWindow) {
    world.addOutputDevice("speakers", "Speakers");
    music = world.addApp("com.example.music", "Music");
    MixerEngine& engine = startEngine();
    const std::vector<std::string> keys{"mixSnapshots", "consoleSlots", "appVolumes"};
    std::map<std::string, std::vector<double>> writes;
    std::map<std::string, size_t> counted;
    for (const auto& key : keys) counted[key] = world.defaults.writeCount(key);
    std::vector<double> lists;
    auto observe = [&] {
        for (const auto& key : keys) {
            for (; counted[key] < world.defaults.writeCount(key); ++counted[key])
                writes[key].push_back(world.queue.now());
        }
        while (auto reply = nextReply()) {
            if (reply->address == "/app/list") lists.push_back(world.queue.now());
        }
    };

    // 3,000 messages in 100 bursts, 5 ms of virtual time apart.
    const std::string pin = engine.pairingPIN().pin();
    int n = 0;
    for (int burst = 0; burst < 100; ++burst) {
        for (int i = 0; i < 30; ++i, ++n) {
            const std::string unknown = "com.example.unknown" + std::to_string(n);
            const std::string rests[] = {"/snapshot/save", "/cue/" + unknown,
                                         "/slot/" + std::to_string(n % 8) + "/t" + std::to_string(n),
                                         "/cuevolume/" + unknown, "/volume/" + music.bundleID};
            const std::string& rest = rests[n % 5];
            phone.sendTo(engine.oscListener().port(), test::floatMessage("/a/" + pin + rest, (n % 100) / 100.0f));
        }
        sent += 30;
        ASSERT_TRUE(engine.oscListener().waitUntilHandled(sent, kGenerousSeconds));
        world.queue.runUntilIdle();
        observe();
        world.advance(0.005);
        observe();
    }
    for (int step = 0; step < 300; ++step) {
        world.advance(0.01);
        observe();
    }

    for (const auto& [key, times] : writes) {
        SCOPED_TRACE(key);
        for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 0.4 - 1e-9);
    }
    ASSERT_FALSE(lists.empty());
    for (size_t i = 1; i < lists.size(); ++i) EXPECT_GE(lists[i] - lists[i - 1], 0.05 - 1e-9);
    // Order kept: the last of each kind of message is what stays.
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, (2999 % 100) / 100.0f);
    EXPECT_EQ(engine.slots()[2997 % 8], "t2997");
    // Nothing grows for IDs that name nothing; scenes stop at the cap, said once.
    EXPECT_EQ(engine.volumes().size(), 1u);
    EXPECT_EQ(engine.snapshots().size(), SceneBook::kMaxScenes);
    EXPECT_EQ(world.logs->count("Scene not saved"), 1u);
    EXPECT_EQ(SnapshotStore(world.defaults).load(), engine.snapshots());
}

// Faults: a reissued PIN that still admitted the old one, or kept answering the forgotten phone.
TEST_F(CompanionBridgeTest, ReissuingThePINForgetsThePhoneAndRefusesTheOldPIN) {
    MixerEngine& engine = startPaired();
    const std::string pin = engine.pairingPIN().pin();
    command("/volume/" + music.bundleID, 0.5f, pin);
    EXPECT_EQ(*engine.iphoneEndpoint(), (NetworkEndpoint{"127.0.0.1", phone.port()}));
    world.advance(0.05);
    EXPECT_TRUE(nextAppList().has_value()) << "the phone is answered with the application list";

    int notifications = 0;
    auto token = engine.addObserver([&] { ++notifications; });
    engine.resetCompanionPairing();
    const std::string fresh = engine.pairingPIN().pin();
    EXPECT_TRUE(PairingPIN::isValid(fresh));
    EXPECT_EQ(world.defaults.string(PairingPIN::kDefaultsKey), std::optional<std::string>(fresh));
    EXPECT_FALSE(engine.iphoneEndpoint().has_value());
    EXPECT_GE(notifications, 1) << "the pairing panel sees the phone go";
    if (fresh != pin) {
        command("/volume/" + music.bundleID, 0.9f, pin);
        EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.5f);
        EXPECT_FALSE(engine.iphoneEndpoint().has_value());
    }
    command("/volume/" + music.bundleID, 0.9f, fresh);
    EXPECT_FLOAT_EQ(engine.volumes().at(music.bundleID).volume, 0.9f);
    EXPECT_TRUE(engine.iphoneEndpoint().has_value());
}

// Faults: a command wired to the wrong action, a setting created for an application the phone
// only names, a recall past the scene list, a switch the phone may not throw, a learning message
// applied, an unmapped or non-numbered control that acts. (Panic and slots: in the last-list test above.)
TEST_F(CompanionBridgeTest, EveryCompanionCommandReachesItsEngineAction) {
    const test::SimApp video = world.addApp("com.example.video", "Video", 550.0);
    MixerEngine& engine = startPaired();
    ASSERT_TRUE(engine.isPaired());
    const auto setting = [&](const std::string& id) {
        return engine.volumes().count(id) ? engine.volumes().at(id) : AppVolume{};
    };
    const auto phones = [&](float volume) {
        return [&engine, volume] { return engine.phonesController()->volume() == volume; };
    };
    const auto& mappings = engine.midiMapping().mappings();
    const struct {
        std::string rest;
        float value;
        std::function<bool()> done;
    } steps[] = {
        {"/cue/" + music.bundleID, 1.0f, [&] { return setting(music.bundleID).isCued; }},
        {"/cuevolume/" + music.bundleID, 0.5f, [&] { return setting(music.bundleID).cueVolume == 0.5f; }},
        {"/cue/" + music.bundleID, 0.0f, [&] { return !setting(music.bundleID).isCued; }},
        {"/cuevolume/" + video.bundleID, 0.5f, [&] { return engine.volumes().count(video.bundleID) == 0; }},
        {"/volume/com.example.absent", 0.3f, [&] { return engine.volumes().count("com.example.absent") == 0; }},
        {"/autorec", 1.0f, [&] { return !engine.isAutoRec(); }}, // switched from the mixer window only
        {"/slot/9/" + music.bundleID, 1.0f,
         [&] { return std::count(engine.slots().begin(), engine.slots().end(), music.bundleID) == 0; }},
        {"/snapshot/save", 1.0f,
         [&] { return engine.snapshots().size() == 1 && engine.snapshots().front().name == "Scene 1"; }},
        {"/volume/bus:phones", 0.25f, phones(0.25f)},
        {"/snapshot/1", 1.0f, phones(0.25f)}, // past the list: nothing is recalled
        {"/snapshot/-1", 1.0f, phones(0.25f)},
        {"/snapshot/0", 1.0f, phones(1.0f)},
        // Learnt (for the target set below) without a source, and not applied.
        {"/orevant/3", 0.2f,
         [&] {
             return mappings.count("3") && mappings.at("3").target == "bus:phones" && !mappings.at("3").sourceID &&
                    phones(1.0f)();
         }},
        {"/orevant/3", 0.4f, phones(0.4f)},
        {"/orevant/4", 0.1f, phones(0.4f)},
        {"/orevant/x", 0.1f, phones(0.4f)},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.rest);
        if (step.rest == "/orevant/3" && step.value == 0.2f) engine.midiMapping().setLearningTarget("bus:phones");
        command(step.rest, step.value);
        EXPECT_TRUE(step.done());
    }
}

TEST_F(CompanionBridgeTest, CallbacksOutlivingTheEngineDoNothing) {
    MixerEngine& engine = startPaired();
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

// A control character costs six bytes in JSON and a stray byte three: each counts before the cut.
TEST(CompanionDocumentsTest, TextsAreCleanedThenCutBetweenCodePoints) {
    EXPECT_EQ(companionText("a\tb\x01"
                            "c"),
              "a b c");
    EXPECT_EQ(companionText("x\xffy"), "x\xef\xbf\xbdy");
    EXPECT_EQ(companionText(std::string(300, '\n')), std::string(255, ' '));
    EXPECT_EQ(companionText("ab\xe2\x82\xac", 4), "ab");
    EXPECT_EQ(cutUTF8("ab\xe2\x82\xac", 4), "ab");
    EXPECT_EQ(cutUTF8("ab\xe2\x82\xac", 5), "ab\xe2\x82\xac");
}

TEST(CompanionDocumentsTest, MeterLevelsRoundHalfAwayFromZero) {
    const std::pair<float, float> cases[] = {{0.12345f, 0.123f},
                                             {0.0005f, 0.001f},
                                             {0.0025f, 0.003f},
                                             {-0.0005f, -0.001f},
                                             {0.0004f, 0.0f},
                                             {1.0f, 1.0f},
                                             {std::numeric_limits<float>::quiet_NaN(), 0.0f}};
    for (const auto& [level, rounded] : cases)
        EXPECT_FLOAT_EQ(OSCCompanionBridge::roundedMeterLevel(level), rounded) << level;
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
