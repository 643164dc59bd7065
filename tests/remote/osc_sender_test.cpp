#include "remote/osc_sender.h"

#include "osc_test_peer.h"
#include "remote/osc_codec.h"

#include <gtest/gtest.h>
#include <thread>

namespace orevant {
namespace {

using test::OSCTestPeer;

// Catches a socket per datagram (the phone sees a new sender each time), destinations sharing a
// socket, and a datagram sent for an address that does not encode.
TEST(OSCSenderTest, OneConnectionPerDestinationCarriesBothShapes) {
    OSCSender sender;
    OSCTestPeer phone;
    OSCTestPeer mixer;
    const NetworkEndpoint endpoint{"127.0.0.1", phone.port()};
    sender.send("/app/list", "{}", endpoint);
    sender.send("/meters", "{\"a\":0.5}", endpoint);
    sender.send("/bad\xff", 1.0f, "127.0.0.1", mixer.port());
    sender.send("/setSubmix", 1.0f, "127.0.0.1", mixer.port());
    EXPECT_EQ(sender.connectionCount(), 2u);

    auto first = phone.receive();
    const uint16_t firstSource = phone.lastSenderPort();
    auto second = phone.receive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(phone.lastSenderPort(), firstSource);
    EXPECT_EQ(test::decodeStringMessage(*first)->address, "/app/list");
    EXPECT_EQ(test::decodeStringMessage(*second)->value, "{\"a\":0.5}");
    auto fromMixer = mixer.receive();
    ASSERT_TRUE(fromMixer);
    auto decoded = OSCCodec::decode(fromMixer->data(), fromMixer->size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->address, "/setSubmix");
    EXPECT_EQ(decoded->value, 1.0f);
    EXPECT_FALSE(mixer.receive(0));
}

// With meters flowing to a phone that went away, the cached socket held a stale refusal and the
// first document after the phone came back was lost (6 of 12 reconnects).
TEST(OSCSenderTest, FirstDocumentAfterThePhoneCameBackArrives) {
    OSCSender sender;
    const uint16_t port = OSCTestPeer().port();
    const NetworkEndpoint phone{"127.0.0.1", port};
    for (int reconnect = 0; reconnect < 12; ++reconnect) {
        SCOPED_TRACE(reconnect);
        // Away: the frames go nowhere, and each refusal is left on the sender's socket.
        for (int frame = 0; frame < 3; ++frame) sender.send("/meters", "{}", phone);
        OSCTestPeer back(port);
        sender.send("/app/list", std::to_string(reconnect), phone);
        auto received = back.receive();
        ASSERT_TRUE(received);
        EXPECT_EQ(test::decodeStringMessage(*received)->value, std::to_string(reconnect));
    }
    EXPECT_EQ(sender.connectionCount(), 1u);
}

// Catches an unguarded connection table: meters, lists and TotalMix send from several threads.
TEST(OSCSenderTest, ManyThreadsShareOneConnection) {
    OSCSender sender;
    OSCTestPeer peer;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) sender.send("/meters", 0.5f, "127.0.0.1", peer.port());
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(sender.connectionCount(), 1u);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(peer.receive()) << i;
}

} // namespace
} // namespace orevant
