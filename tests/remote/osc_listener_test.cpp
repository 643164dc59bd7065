#include "remote/osc_listener.h"

#include "osc_test_peer.h"
#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/service_advertiser.h"
#include "remote/pin_gate.h"

#include <gtest/gtest.h>

#include <memory>
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
    size_t sent = 0;

    void SetUp() override {
        ASSERT_TRUE(listener->isListening());
        listener->setPIN(kPIN);
        listener->onIPhoneConnected = [this](const NetworkEndpoint& e) {
            calls.push_back("connected " + e.host + (e.port == phone.port() ? " phone" : " other"));
        };
        listener->onPanicReceived = [this](bool on) { calls.push_back(on ? "panic on" : "panic off"); };
        listener->onAppVolumeReceived = [this](const std::string& id, float v) {
            calls.push_back("volume " + id + " " + std::to_string(v).substr(0, 4));
        };
    }

    // Sends datagrams and waits until the listener has finished with them, then runs what it
    // handed to the main queue.
    void deliver(const std::vector<test::Bytes>& datagrams, OSCTestPeer* from = nullptr) {
        for (const auto& bytes : datagrams) (from ? *from : phone).sendTo(listener->port(), bytes);
        sent += datagrams.size();
        ASSERT_TRUE(listener->waitUntilHandled(sent, kGenerousSeconds));
        queue.runUntilIdle();
    }
    static std::string pinned(const std::string& rest, const std::string& pin = kPIN) { return "/a/" + pin + rest; }
    static std::vector<test::Bytes> badPINs(int count) {
        return std::vector<test::Bytes>(static_cast<size_t>(count), floatMessage(pinned("/panic", "000000"), 1.0f));
    }
};

// The listener's user-visible lines, each said once: ready, the phone's path (not repeated for
// the same phone), a busy port, and the lockout. Catches also an unadvertised or wrongly named
// service, and a stop that leaves it advertised or withdraws it twice.
TEST_F(OSCListenerTest, DiagnosticsAreSaidOnceAndTheServiceIsAdvertisedWhileListening) {
    deliver({floatMessage(pinned("/panic"), 1.0f), floatMessage(pinned("/panic"), 0.0f)});
    deliver(badPINs(12));
    OSCListener busy(queue, queue.hostClock(), advertiser, listener->port());
    queue.advance(OSCListener::kRetrySeconds * 3);
    const std::string port = std::to_string(listener->port());
    const std::pair<std::string, LogLevel> lines[] = {
        {"OSC Listener ready on port " + port + " (DNS-SD: _orevant-osc._udp)", LogLevel::info},
        {"OSC connection via [lo(loopback)]", LogLevel::info},
        {"Too many bad PINs; ignoring OSC for 10s", LogLevel::error},
        {"Failed to start OSC listener: Address already in use", LogLevel::error},
        {"UDP port " + port +
             " is in use by another program, so the phone cannot reach OREVANT; trying again every "
             "5 seconds",
         LogLevel::error},
    };
    for (const auto& [text, level] : lines) EXPECT_EQ(logs->count(text, level), 1u) << text;

    // Advertised while listening under its own name, withdrawn once however often it stops.
    ASSERT_EQ(advertiser.advertised.size(), 1u);
    EXPECT_EQ(advertiser.advertised[0], serviceInstanceName() + " _orevant-osc._udp " + port);
    EXPECT_EQ(serviceInstanceName().rfind("OREVANT on ", 0), 0u);
    listener->stop();
    listener->stop();
    EXPECT_FALSE(listener->isListening());
    EXPECT_EQ(listener->port(), 0);
    EXPECT_EQ(advertiser.withdrawals, 1);
}

// Catches values passed on unlimited, the phone not named before the action, integer switches
// misread, messages reordered, and malformed datagrams reaching a callback or counting as bad PINs.
TEST_F(OSCListenerTest, AdmittedMessagesNameThePhoneThenActOnALimitedValue) {
    struct Case {
        test::Bytes datagram;
        std::vector<std::string> calls;
    };
    const std::vector<std::string> none;
    const Case cases[] = {
        {floatMessage(pinned("/panic"), 1.0f), {"connected 127.0.0.1 phone", "panic on"}},
        {intMessage(pinned("/panic"), 64), {"connected 127.0.0.1 phone", "panic on"}},
        {intMessage(pinned("/panic"), 63), {"connected 127.0.0.1 phone", "panic off"}},
        {floatMessage(pinned("/volume/a"), 1.7f), {"connected 127.0.0.1 phone", "volume a 1.00"}},
        {floatMessage(pinned("/volume/a"), -0.2f), {"connected 127.0.0.1 phone", "volume a 0.00"}},
        {intMessage(pinned("/volume/a"), 500), {"connected 127.0.0.1 phone", "volume a 1.00"}},
        {floatMessage(pinned(""), 1.0f), none},
        {floatMessage("/panic", 1.0f), none},
        {intMessage(pinned("/panic"), 1, ",s"), none},
        {test::Bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0}, none},
        {test::Bytes{}, none},
    };
    // One burst: the calls keep the order the datagrams were sent in.
    std::vector<test::Bytes> burst;
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        burst.push_back(c.datagram);
        expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    }
    deliver(burst);
    EXPECT_EQ(calls, expected);
    deliver(badPINs(9));
    EXPECT_FALSE(listener->pinGate().isLockedOut()) << "the dropped datagrams were not counted";
}

// Catches a posted message that runs on a destroyed listener, and one that dispatches after the
// connect callback destroyed it.
TEST_F(OSCListenerTest, DestroyedListenerEndsPendingWorkQuietly) {
    phone.sendTo(listener->port(), floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(listener->waitUntilHandled(1, kGenerousSeconds));
    listener.reset();
    queue.runUntilIdle();
    EXPECT_TRUE(calls.empty());

    listener = std::make_unique<OSCListener>(queue, queue.hostClock(), advertiser, uint16_t{0});
    listener->setPIN(kPIN);
    listener->onIPhoneConnected = [this](const NetworkEndpoint&) { listener.reset(); };
    listener->onPanicReceived = [this](bool) { calls.push_back("panic"); };
    phone.sendTo(listener->port(), floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(listener->waitUntilHandled(1, kGenerousSeconds));
    queue.runUntilIdle();
    EXPECT_EQ(listener, nullptr);
    EXPECT_TRUE(calls.empty());
}

// A busy port once left remote control off for good: it is tried every 5 s, and listening
// starts as soon as the port is free.
TEST_F(OSCListenerTest, BusyPortIsTriedAgainUntilItIsFree) {
    const uint16_t busy = listener->port();
    OSCListener second(queue, queue.hostClock(), advertiser, busy);
    second.setPIN(kPIN);
    bool panicked = false;
    second.onPanicReceived = [&](bool on) { panicked = on; };
    queue.advance(OSCListener::kRetrySeconds * 3);
    EXPECT_FALSE(second.isListening());

    listener.reset();
    queue.advance(OSCListener::kRetrySeconds - 0.01);
    EXPECT_FALSE(second.isListening());
    queue.advance(0.01);
    ASSERT_TRUE(second.isListening());
    phone.sendTo(busy, floatMessage(pinned("/panic"), 1.0f));
    ASSERT_TRUE(second.waitUntilHandled(1, kGenerousSeconds));
    queue.runUntilIdle();
    EXPECT_TRUE(panicked);
}

// "OSC connection via" was logged for every new source before the PIN was checked: 5,000
// datagrams from new ports wrote about 5,000 lines. Senders without the PIN get 10 a minute.
TEST_F(OSCListenerTest, UnpairedSendersWriteAtMostTenLinesAMinute) {
    auto flood = [&](int datagrams) {
        for (int i = 0; i < datagrams; ++i) {
            OSCTestPeer stranger;
            // One-byte datagrams, and wrong PINs that start a lockout now and then.
            deliver({i % 3 ? test::Bytes{'x'} : floatMessage(pinned("/panic", strprintf("%06d", i)), 1.0f)}, &stranger);
        }
    };
    logs->clear();
    flood(600);
    EXPECT_LE(logs->messages("OSCListener").size(), OSCListener::kUnpairedLogLines);
    EXPECT_EQ(logs->count("Too many bad PINs"), 1u) << "path lines do not crowd out the lockout";
    EXPECT_LE(logs->count("OSC connection via"), OSCListener::kUnpairedLogLines - 6) << "six lockouts fit in a minute";
    EXPECT_EQ(logs->count("were left out"), 0u);

    // Once the minute is over the count is said, in one line that uses the new minute's budget.
    logs->clear();
    queue.advance(OSCListener::kUnpairedLogWindowSeconds);
    EXPECT_EQ(logs->count("were left out"), 1u);
    flood(300);
    queue.advance(OSCListener::kUnpairedLogWindowSeconds - 1);
    EXPECT_LE(logs->messages("OSCListener").size(), OSCListener::kUnpairedLogLines);

    // The phone's own lines are not held back.
    logs->clear();
    deliver({floatMessage(pinned("/panic"), 1.0f)});
    EXPECT_EQ(logs->count("OSC connection via"), 1u);
}

TEST(NullServiceAdvertiserTest, SaysOnceThatNothingIsAdvertised) {
    ScopedLogCapture logs;
    NullServiceAdvertiser advertiser;
    advertiser.advertise("OREVANT on host", "_orevant-osc._udp", 9000);
    advertiser.advertise("OREVANT on host", "_orevant-osc._udp", 9000);
    EXPECT_EQ(logs->count("not advertised"), 1u);
}

} // namespace
} // namespace orevant
