#include "engine/mixer_engine.h"
#include "remote/osc_codec.h"
#include "remote/osc_sender.h"
#include "remote/total_mix_osc.h"
#include "support/engine_fixture.h"

#include "remote/osc_test_peer.h"

#include <gtest/gtest.h>

using namespace orevant;

namespace {

class TotalMixRoutingTest : public ::testing::Test {
protected:
    test::EngineFixture world;
    test::OSCTestPeer totalMix;
    std::shared_ptr<OSCSender> sender = std::make_shared<OSCSender>();
    std::shared_ptr<OSCSender> previous = OSCSender::setShared(sender);

    ~TotalMixRoutingTest() override { OSCSender::setShared(previous); }

    void startWith(uint32_t channels) {
        world.addOutputDevice("RMEUSBDevice-1", "Fireface UCX II", channels, transport::usb);
        world.makeEngine([&](MixerEngine::Services& s) { s.totalMixPort = totalMix.port(); });
        world.startEngine();
    }

    // Every datagram that has arrived, decoded.
    std::vector<TotalMixOSC::Command> received() {
        std::vector<TotalMixOSC::Command> out;
        while (auto bytes = totalMix.receive(out.size() < 8 ? 10000 : 0)) {
            auto message = OSCCodec::decode(bytes->data(), bytes->size());
            if (message) out.push_back({message->address, message->value});
            if (out.size() > 16) break;
        }
        return out;
    }
};

} // namespace

TEST_F(TotalMixRoutingTest, WritesThePairedDevicesRoutingOnceForTwoPresses) {
    startWith(8);
    world.engine->setBusPairing("RMEUSBDevice-1", 2, 6);
    world.engine->writeTotalMixDefaultRouting();
    EXPECT_TRUE(world.engine->isWritingTotalMixRouting());
    world.advance(0.1);
    world.engine->writeTotalMixDefaultRouting(); // pressed again during the write: ignored
    world.advance(1.0);
    EXPECT_FALSE(world.engine->isWritingTotalMixRouting());

    const auto commands = received();
    EXPECT_EQ(commands, TotalMixOSC::defaultRouting(2, 6));
    EXPECT_EQ(world.logs->count("Writing TotalMix default routing (8 messages)"), 1u);
}

TEST_F(TotalMixRoutingTest, DoesNothingWithoutAPairing) {
    startWith(2);
    world.engine->writeTotalMixDefaultRouting();
    EXPECT_FALSE(world.engine->isWritingTotalMixRouting());
    world.advance(1.0);
    EXPECT_FALSE(totalMix.receive(0).has_value());
    EXPECT_EQ(world.logs->count("Writing TotalMix default routing"), 0u);
}
