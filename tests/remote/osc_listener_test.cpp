#include "remote/osc_listener.h"

#include "osc_test_peer.h"
#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/service_advertiser.h"
#include "remote/osc_sender.h"
#include "remote/pin_gate.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {
namespace {

using test::floatMessage;
using test::intMessage;
using test::OSCTestPeer;

constexpr double kGenerousSeconds = 10.0;

class RecordingAdvertiser final : public ServiceAdvertiser {
public:
    void advertise(const std::string& name, const std::string& type, uint16_t port) override {
        advertised.push_back(name + " " + type + " " + std::to_string(port));
    }
    void withdraw(const std::string& type) override { withdrawals += type == "_orevant-osc._udp"; }
    std::vector<std::string> advertised;
    int withdrawals = 0;
};

class OSCListenerTest : public ::testing::Test {
protected:
    static constexpr const char* kPIN = "482913";

    ScopedLogCapture logs;
    ManualMainQueue queue;
    RecordingAdvertiser advertiser;
    std::unique_ptr<OSCListener> listener =
        std::make_unique<OSCListener>(queue, queue.hostClock(), advertiser, uint16_t{0});
    OSCTestPeer phone;
    std::vector<std::string> calls;
    std::vector<NetworkEndpoint> endpoints;
    size_t sent = 0;

    void SetUp() override {
        ASSERT_TRUE(listener->isListening());
        listener->setPIN(kPIN);
        listener->onIPhoneConnected = [this](const NetworkEndpoint& e) {
            endpoints.push_back(e);
            calls.push_back("connected");
        };
        listener->onPanicReceived = [this](bool on) { calls.push_back(on ? "panic on" : "panic off"); };
        listener->onAppVolumeReceived = [this](const std::string& id, float v) {
            calls.push_back("volume " + id + " " + std::to_string(v));
        };
    }

    // Sends one datagram and waits until the listener has finished with it, then runs what it
    // handed to the main queue.
    void deliver(const test::Bytes& bytes) {
        phone.sendTo(listener->port(), bytes);
        ++sent;
        ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
        queue.runUntilIdle();
    }
    std::string pinned(const std::string& rest, const std::string& pin = kPIN) { return "/a/" + pin + rest; }
};

TEST_F(OSCListenerTest, StartsReadyAndAdvertised) {
    const uint16_t port = listener->port();
    EXPECT_NE(port, 0);
    EXPECT_EQ(logs->count("OSC Listener ready on port " + std::to_string(port) + " (DNS-SD: _orevant-osc._udp)",
                          LogLevel::info),
              1u);
    ASSERT_EQ(advertiser.advertised.size(), 1u);
    EXPECT_EQ(advertiser.advertised[0], serviceInstanceName() + " _orevant-osc._udp " + std::to_string(port));
    EXPECT_EQ(serviceInstanceName().rfind("OREVANT on ", 0), 0u);
    listener->stop();
    EXPECT_FALSE(listener->isListening());
    EXPECT_EQ(listener->port(), 0);
    EXPECT_EQ(advertiser.withdrawals, 1);
    listener->stop();
    EXPECT_EQ(advertiser.withdrawals, 1);
}

TEST_F(OSCListenerTest, AdmittedMessageNamesThePhoneThenActs) {
    deliver(floatMessage(pinned("/panic"), 1.0f));
    EXPECT_EQ(calls, (std::vector<std::string>{"connected", "panic on"}));
    ASSERT_EQ(endpoints.size(), 1u);
    EXPECT_EQ(endpoints[0].host, "127.0.0.1");
    EXPECT_EQ(endpoints[0].port, phone.port());
    EXPECT_EQ(logs->count("OSC connection via [lo(loopback)]", LogLevel::info), 1u);

    calls.clear();
    deliver(intMessage(pinned("/panic"), 64));
    deliver(intMessage(pinned("/panic"), 63));
    EXPECT_EQ(calls, (std::vector<std::string>{"connected", "panic on", "connected", "panic off"}));
    // The same phone on the same interface is logged once.
    EXPECT_EQ(logs->count("OSC connection via"), 1u);
}

TEST_F(OSCListenerTest, ValuesAreLimitedToTheUnitRange) {
    deliver(floatMessage(pinned("/volume/com.example.a"), 1.7f));
    deliver(floatMessage(pinned("/volume/com.example.a"), -0.2f));
    deliver(intMessage(pinned("/volume/com.example.a"), 500));
    EXPECT_EQ(calls, (std::vector<std::string>{"connected", "volume com.example.a 1.000000", "connected",
                                               "volume com.example.a 0.000000", "connected",
                                               "volume com.example.a 1.000000"}));
}

TEST_F(OSCListenerTest, DroppedDatagramsReachNoCallback) {
    deliver(floatMessage(pinned(""), 1.0f));        // no "/" after the PIN
    deliver(floatMessage("/panic", 1.0f));          // no PIN at all
    deliver(intMessage(pinned("/panic"), 1, ",s")); // string argument
    deliver(test::Bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0});
    deliver(test::Bytes{}); // empty datagram
    EXPECT_TRUE(calls.empty());
    // None of these was a bad PIN: ten wrong PINs are still needed for a lockout.
    for (int i = 0; i < 9; ++i) deliver(floatMessage(pinned("/panic", "000000"), 1.0f));
    EXPECT_EQ(logs->count("Too many bad PINs"), 0u);
}

TEST_F(OSCListenerTest, TenBadPINsSilenceTheRightOneForTenSeconds) {
    for (int i = 0; i < 10; ++i) deliver(floatMessage(pinned("/panic", "11111" + std::to_string(i)), 1.0f));
    EXPECT_EQ(logs->count("Too many bad PINs; ignoring OSC for 10s", LogLevel::error), 1u);

    deliver(floatMessage(pinned("/panic"), 1.0f));
    queue.advance(9.9);
    deliver(floatMessage(pinned("/panic"), 1.0f));
    EXPECT_TRUE(calls.empty());

    queue.advance(0.1);
    deliver(floatMessage(pinned("/panic"), 1.0f));
    EXPECT_EQ(calls, (std::vector<std::string>{"connected", "panic on"}));
}

TEST_F(OSCListenerTest, BeforeAPINIsGivenEveryPINIsBad) {
    OSCListener fresh(queue, queue.hostClock(), advertiser, 0);
    bool called = false;
    fresh.onIPhoneConnected = [&](const NetworkEndpoint&) { called = true; };
    for (int i = 1; i <= 10; ++i) {
        phone.sendTo(fresh.port(), floatMessage(pinned("/panic"), 1.0f));
        ASSERT_TRUE(fresh.waitUntilHandled(static_cast<size_t>(i), kGenerousSeconds));
    }
    queue.runUntilIdle();
    EXPECT_FALSE(called);
    EXPECT_EQ(logs->count("Too many bad PINs"), 1u);
}

TEST_F(OSCListenerTest, MessagesArriveInOrder) {
    std::vector<std::string> ids;
    listener->onAppVolumeReceived = [&](const std::string& id, float) { ids.push_back(id); };
    std::vector<std::string> expected;
    for (int i = 0; i < 50; ++i) {
        expected.push_back("app" + std::to_string(i));
        phone.sendTo(listener->port(), floatMessage(pinned("/volume/" + expected.back()), 0.5f));
    }
    ASSERT_TRUE(listener->waitUntilHandled(50, kGenerousSeconds));
    queue.runUntilIdle();
    EXPECT_EQ(ids, expected);
}

TEST_F(OSCListenerTest, DestroyedListenerEndsPendingWorkQuietly) {
    phone.sendTo(listener->port(), floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(listener->waitUntilHandled(1, kGenerousSeconds));
    EXPECT_EQ(queue.pendingCount(), 1u);
    listener.reset();
    queue.runUntilIdle();
    EXPECT_TRUE(calls.empty());
}

TEST_F(OSCListenerTest, ListenerDestroyedByTheConnectCallbackStopsThere) {
    listener->onIPhoneConnected = [this](const NetworkEndpoint&) {
        calls.push_back("connected");
        listener.reset();
    };
    phone.sendTo(listener->port(), floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(listener->waitUntilHandled(1, kGenerousSeconds));
    queue.runUntilIdle();
    EXPECT_EQ(calls, std::vector<std::string>{"connected"});
}

// A busy port once left remote control off for good: it is said once, tried every 5 s, and
// listening starts as soon as the port is free.
TEST_F(OSCListenerTest, BusyPortIsTriedAgainUntilItIsFree) {
    auto holder = std::make_unique<OSCListener>(queue, queue.hostClock(), advertiser, uint16_t{0});
    const uint16_t busy = holder->port();
    OSCListener second(queue, queue.hostClock(), advertiser, busy);
    second.setPIN(kPIN);
    bool panicked = false;
    second.onPanicReceived = [&](bool on) { panicked = on; };
    EXPECT_FALSE(second.isListening());
    EXPECT_TRUE(second.isWaitingForPort());
    EXPECT_EQ(second.port(), 0);
    EXPECT_EQ(logs->count("Failed to start OSC listener: Address already in use", LogLevel::error), 1u);
    EXPECT_EQ(logs->count("UDP port " + std::to_string(busy) + " is in use by another program"), 1u);

    queue.advance(OSCListener::kRetrySeconds * 3); // still held: tried again, said nothing more
    EXPECT_FALSE(second.isListening());
    EXPECT_EQ(logs->count("Failed to start OSC listener"), 1u);

    holder.reset();
    queue.advance(OSCListener::kRetrySeconds - 0.01);
    EXPECT_FALSE(second.isListening());
    queue.advance(0.01);
    ASSERT_TRUE(second.isListening());
    EXPECT_FALSE(second.isWaitingForPort());
    EXPECT_EQ(second.port(), busy);
    EXPECT_EQ(logs->count("OSC Listener ready on port " + std::to_string(busy)), 2u);

    phone.sendTo(busy, floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(second.waitUntilHandled(1, kGenerousSeconds));
    queue.runUntilIdle();
    EXPECT_TRUE(panicked);
}

// Every admitted message once cleared the bad-PIN count, so while the phone talked an attacker
// rotating source ports got nine guesses per phone message and found the PIN.
TEST_F(OSCListenerTest, PhoneTrafficGivesAnAttackerNoMoreGuesses) {
    std::vector<uint16_t> attackerPorts;
    size_t attackerAdmitted = 0;
    listener->onIPhoneConnected = [&](const NetworkEndpoint& e) { attackerAdmitted += e.port != phone.port(); };
    auto attack = [&](int guesses, int rightAt) {
        for (int guess = 0; guess < guesses; ++guess) {
            OSCTestPeer attacker;
            const std::string pin = guess == rightAt ? kPIN : strprintf("%06d", guess);
            attacker.sendTo(listener->port(), floatMessage(pinned("/volume/x", pin), 1.0f));
            phone.sendTo(listener->port(), floatMessage(pinned("/volume/x"), 0.5f));
            sent += 2;
            if (guess % 50 == 49) {
                ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
            }
        }
        ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
        queue.runUntilIdle();
    };
    attack(1000, 999);
    // Ten guesses were checked in the lockout window, however often the phone spoke.
    EXPECT_EQ(listener->pinGate().badPINsCounted(), 10u);
    EXPECT_EQ(attackerAdmitted, 0u);

    queue.advance(PINGate::kLockoutSeconds);
    attack(100, 99);
    EXPECT_EQ(listener->pinGate().badPINsCounted(), 20u);
    EXPECT_EQ(attackerAdmitted, 0u);
}

// "OSC connection via" was logged for every new source before the PIN was checked: 5,000
// datagrams from new ports wrote about 5,000 lines. Senders without the PIN get 10 a minute.
TEST_F(OSCListenerTest, UnpairedSendersWriteAtMostTenLinesAMinute) {
    auto flood = [&](int datagrams) {
        for (int i = 0; i < datagrams; ++i) {
            OSCTestPeer stranger;
            // One-byte datagrams, and wrong PINs that start a lockout now and then.
            stranger.sendTo(listener->port(),
                            i % 3 ? test::Bytes{'x'} : floatMessage(pinned("/panic", strprintf("%06d", i)), 1.0f));
            ++sent;
            if (i % 100 == 99) {
                ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
            }
        }
        ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
        queue.runUntilIdle();
    };
    logs->clear();
    flood(5000);
    EXPECT_LE(logs->messages("OSCListener").size(), OSCListener::kUnpairedLogLines);
    EXPECT_EQ(logs->count("Too many bad PINs"), 1u) << "path lines do not crowd out the lockout";
    EXPECT_EQ(logs->count("were left out"), 0u);

    // Once the minute is over the count is said, in one line that uses the new minute's budget.
    logs->clear();
    queue.advance(OSCListener::kUnpairedLogWindowSeconds);
    EXPECT_EQ(logs->count("were left out"), 1u);
    flood(1000);
    queue.advance(OSCListener::kUnpairedLogWindowSeconds - 1);
    EXPECT_LE(logs->messages("OSCListener").size(), OSCListener::kUnpairedLogLines);

    // The phone's own lines are not held back.
    logs->clear();
    deliver(floatMessage(pinned("/panic"), 1.0f));
    EXPECT_EQ(logs->count("OSC connection via"), 1u);
}

TEST(NullServiceAdvertiserTest, SaysOnceThatNothingIsAdvertised) {
    ScopedLogCapture logs;
    NullServiceAdvertiser advertiser;
    advertiser.advertise("OREVANT on host", "_orevant-osc._udp", 9000);
    advertiser.advertise("OREVANT on host", "_orevant-osc._udp", 9000);
    EXPECT_EQ(logs->count("_orevant-osc._udp"), 1u);
    EXPECT_EQ(logs->count("not advertised"), 1u);
}

// The phone's round trip over loopback: it sets an application's volume with its PIN and reads
// the state document that comes back on its own port. The handlers below stand in for the
// engine: they keep the volume and answer the phone with "/app/list" through the sender.
TEST_F(OSCListenerTest, PhoneSetsAVolumeAndReadsItBackFromTheStateDocument) {
    auto sender = std::make_shared<OSCSender>();
    auto previous = OSCSender::setShared(sender);
    OSCTestPeer phoneInbox;
    std::optional<NetworkEndpoint> phoneEndpoint;
    std::map<std::string, float> volumes{{"com.example.player", 1.0f}};
    auto sendAppList = [&] {
        if (!phoneEndpoint) return;
        nlohmann::json apps = nlohmann::json::array();
        for (const auto& [id, volume] : volumes) apps.push_back({{"bundleID", id}, {"volume", volume}});
        const nlohmann::json state = {{"apps", apps}};
        OSCSender::shared()->send("/app/list", state.dump(), phoneEndpoint->withPort(phoneInbox.port()));
    };
    listener->onIPhoneConnected = [&](const NetworkEndpoint& endpoint) { phoneEndpoint = endpoint; };
    listener->onAppVolumeReceived = [&](const std::string& id, float value) {
        volumes[id] = value;
        sendAppList();
    };

    deliver(floatMessage(pinned("/volume/com.example.player"), 0.5f));

    auto reply = phoneInbox.receive();
    ASSERT_TRUE(reply);
    auto message = test::decodeStringMessage(*reply);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->address, "/app/list");
    const auto document = nlohmann::json::parse(message->value);
    ASSERT_EQ(document["apps"].size(), 1u);
    EXPECT_EQ(document["apps"][0]["bundleID"], "com.example.player");
    EXPECT_FLOAT_EQ(document["apps"][0]["volume"].get<float>(), 0.5f);
    EXPECT_TRUE(sender->hasConnection("127.0.0.1:" + std::to_string(phoneInbox.port())));
    OSCSender::setShared(previous);
}

} // namespace
} // namespace orevant
