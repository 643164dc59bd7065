#include "remote/total_mix_osc.h"
#include "remote/total_mix_routing_writer.h"

#include "osc_test_peer.h"
#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "remote/osc_sender.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

using Command = TotalMixOSC::Command;
using Commands = std::vector<Command>;

TEST(TotalMixOSCTest, DefaultRoutingForTheFirstTwoPairs) {
    EXPECT_EQ(TotalMixOSC::defaultRouting(0, 2), (Commands{{"/setSubmix", 1.0f},
                                                           {"/1/busPlayback", 1.0f},
                                                           {"/1/volume1", 0.0f},
                                                           {"/1/volume2", 0.82f},
                                                           {"/setSubmix", 0.0f},
                                                           {"/1/busPlayback", 1.0f},
                                                           {"/1/volume1", 0.82f},
                                                           {"/1/volume2", 0.0f}}));
}

TEST(TotalMixOSCTest, OffsetsSelectSubmixAndChannelByPair) {
    const Commands commands = TotalMixOSC::defaultRouting(2, 6);
    ASSERT_EQ(commands.size(), 8u);
    EXPECT_EQ(commands[0], (Command{"/setSubmix", 3.0f}));
    EXPECT_EQ(commands[2], (Command{"/1/volume2", 0.0f}));
    EXPECT_EQ(commands[3], (Command{"/1/volume4", 0.82f}));
    EXPECT_EQ(commands[4], (Command{"/setSubmix", 1.0f}));
    EXPECT_EQ(commands[6], (Command{"/1/volume2", 0.82f}));
    EXPECT_EQ(commands[7], (Command{"/1/volume4", 0.0f}));
    // An odd offset belongs to the pair that holds it.
    EXPECT_EQ(TotalMixOSC::defaultRouting(1, 3), TotalMixOSC::defaultRouting(0, 2));
}

TEST(TotalMixOSCTest, RecognisesRMEDevicesByUIDOrName) {
    EXPECT_TRUE(TotalMixOSC::isTotalMixDevice("RMEUSBDevice:23A1", "Studio Interface"));
    EXPECT_TRUE(TotalMixOSC::isTotalMixDevice("usb-1", "BabyFace Pro FS"));
    EXPECT_TRUE(TotalMixOSC::isTotalMixDevice("usb-1", "FIREFACE UCX II"));
    EXPECT_TRUE(TotalMixOSC::isTotalMixDevice("usb-1", "Digiface by Rme"));
    EXPECT_FALSE(TotalMixOSC::isTotalMixDevice("usb-1", "Roland Mixer Edition"));
    EXPECT_FALSE(TotalMixOSC::isTotalMixDevice("usb-RMEUSBDevice", "Scarlett 2i2"));
    EXPECT_FALSE(TotalMixOSC::isTotalMixDevice("", ""));
}

class TotalMixRoutingWriterTest : public ::testing::Test {
protected:
    ScopedLogCapture logs;
    ManualMainQueue queue;
    test::OSCTestPeer totalMix;
    std::shared_ptr<OSCSender> sender = std::make_shared<OSCSender>();
    std::shared_ptr<OSCSender> previous = OSCSender::setShared(sender);
    TotalMixRoutingWriter writer{queue, "127.0.0.1", totalMix.port()};

    ~TotalMixRoutingWriterTest() override { OSCSender::setShared(previous); }

    Command next(int timeoutMs = 10000) {
        auto bytes = totalMix.receive(timeoutMs);
        if (!bytes) return {"<nothing>", -1.0f};
        auto message = OSCCodec::decode(bytes->data(), bytes->size());
        if (!message) return {"<undecodable>", -1.0f};
        return {message->address, message->value};
    }
};

TEST_F(TotalMixRoutingWriterTest, SendsEightMessagesEightyMillisecondsApart) {
    const Commands expected = TotalMixOSC::defaultRouting(0, 2);
    ASSERT_TRUE(writer.writeDefaultRouting(0, 2));
    EXPECT_EQ(logs->count("Writing TotalMix default routing (8 messages)", LogLevel::info), 1u);
    EXPECT_TRUE(writer.isWriting());

    queue.runUntilIdle();
    EXPECT_EQ(next(), expected[0]);
    for (size_t i = 1; i < expected.size(); ++i) {
        queue.advance(0.079);
        EXPECT_EQ(next(0).path, "<nothing>") << "message " << i << " came early";
        queue.advance(0.001);
        EXPECT_EQ(next(), expected[i]) << i;
    }
    EXPECT_TRUE(sender->hasConnection("127.0.0.1:" + std::to_string(totalMix.port())));
    // The write ends after the last message's pause: 8 x 80 ms.
    queue.advance(0.079);
    EXPECT_TRUE(writer.isWriting());
    queue.advance(0.001);
    EXPECT_FALSE(writer.isWriting());
    EXPECT_DOUBLE_EQ(queue.now(), 0.64);
    EXPECT_EQ(next(0).path, "<nothing>");
}

TEST_F(TotalMixRoutingWriterTest, PressesDuringAWriteAreIgnored) {
    ASSERT_TRUE(writer.writeDefaultRouting(0, 2));
    queue.advance(0.1);
    EXPECT_FALSE(writer.writeDefaultRouting(0, 2));
    EXPECT_FALSE(writer.write({{"/x", 1.0f}}));
    EXPECT_EQ(logs->count("Writing TotalMix default routing"), 1u);
    queue.advance(1.0);
    int received = 0;
    while (next(received < 8 ? 10000 : 0).path != "<nothing>") ++received;
    EXPECT_EQ(received, 8);

    // Once finished, the button works again.
    EXPECT_TRUE(writer.writeDefaultRouting(0, 2));
}

TEST_F(TotalMixRoutingWriterTest, EmptyListEndsAtOnce) {
    ASSERT_TRUE(writer.write({}));
    queue.runUntilIdle();
    EXPECT_FALSE(writer.isWriting());
    EXPECT_EQ(sender->connectionCount(), 0u);
}

TEST_F(TotalMixRoutingWriterTest, DestroyedWriterSendsNothingMore) {
    auto early = std::make_unique<TotalMixRoutingWriter>(queue, "127.0.0.1", totalMix.port());
    ASSERT_TRUE(early->writeDefaultRouting(0, 2));
    queue.runUntilIdle();
    EXPECT_EQ(next().path, "/setSubmix");
    early.reset();
    queue.advance(1.0);
    EXPECT_EQ(next(0).path, "<nothing>");
}

} // namespace
} // namespace orevant
