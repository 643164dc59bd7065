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

// Catches a submix or fader taken from the channel instead of its pair, MAIN and PHONES swapped,
// and a wrong level.
TEST(TotalMixOSCTest, DefaultRoutingFollowsTheOutputPairs) {
    // PHONES' submix first with only its own fader up, then MAIN's: {submix, fader} of each pair.
    auto routing = [](float phones, const std::string& phonesFader, float main, const std::string& mainFader) {
        return Commands{{"/setSubmix", phones}, {"/1/busPlayback", 1.0f}, {mainFader, 0.0f},  {phonesFader, 0.82f},
                        {"/setSubmix", main},   {"/1/busPlayback", 1.0f}, {mainFader, 0.82f}, {phonesFader, 0.0f}};
    };
    const Commands firstPairs = routing(1.0f, "/1/volume2", 0.0f, "/1/volume1");
    EXPECT_EQ(TotalMixOSC::defaultRouting(0, 2), firstPairs);
    EXPECT_EQ(TotalMixOSC::defaultRouting(1, 3), firstPairs) << "an odd offset belongs to the pair that holds it";
    EXPECT_EQ(TotalMixOSC::defaultRouting(2, 6), routing(3.0f, "/1/volume4", 1.0f, "/1/volume2"));
}

TEST(TotalMixOSCTest, RecognisesRMEDevicesByUIDPrefixOrNameInAnyCase) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"RMEUSBDevice:23A1", "Studio Interface", true},
        {"usb-1", "BabyFace Pro FS", true},
        {"usb-1", "FIREFACE UCX II", true},
        {"usb-1", "Digiface by Rme", true},
        {"usb-1", "Roland Mixer Edition", false},
        {"usb-RMEUSBDevice", "Scarlett 2i2", false},
        {"", "", false},
    };
    for (const auto& [uid, name, rme] : cases) EXPECT_EQ(TotalMixOSC::isTotalMixDevice(uid, name), rme) << name;
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

// Catches messages sent in a burst (TotalMix drops them), out of order, a write that ends before
// the last pause, and a second press during a write interleaving a second write (it is refused,
// and the button works again afterwards).
TEST_F(TotalMixRoutingWriterTest, SendsEightMessagesEightyMillisecondsApartAndRefusesPressesMeanwhile) {
    const Commands expected = TotalMixOSC::defaultRouting(0, 2);
    ASSERT_TRUE(writer.writeDefaultRouting(0, 2));
    queue.runUntilIdle();
    EXPECT_EQ(next(), expected[0]);
    EXPECT_FALSE(writer.writeDefaultRouting(0, 2));
    EXPECT_FALSE(writer.write({{"/x", 1.0f}}));
    EXPECT_EQ(logs->count("Writing TotalMix default routing (8 messages)", LogLevel::info), 1u) << "refused silently";
    for (size_t i = 1; i < expected.size(); ++i) {
        queue.advance(0.079);
        EXPECT_EQ(next(0).path, "<nothing>") << "message " << i << " came early";
        queue.advance(0.001);
        EXPECT_EQ(next(), expected[i]) << i;
    }
    queue.advance(0.079);
    EXPECT_TRUE(writer.isWriting());
    queue.advance(0.001);
    EXPECT_FALSE(writer.isWriting());
    EXPECT_EQ(next(0).path, "<nothing>");
    EXPECT_TRUE(writer.writeDefaultRouting(0, 2));
}

// Catches an empty write that never ends (the button stays dead) and a destroyed writer whose
// paced steps still send.
TEST_F(TotalMixRoutingWriterTest, EmptyWriteEndsAtOnceAndADestroyedWriterStops) {
    ASSERT_TRUE(writer.write({}));
    queue.runUntilIdle();
    EXPECT_FALSE(writer.isWriting());

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
