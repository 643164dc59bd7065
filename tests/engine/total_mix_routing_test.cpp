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

// Faults: the routing written for the wrong pairs, or written to a device with no PHONES pair.
TEST_F(TotalMixRoutingTest, WritesThePairedDevicesRoutingAndNothingWithoutAPairing) {
    startWith(8);
    world.engine->setBusPairing("RMEUSBDevice-1", 2, 6);
    world.engine->writeTotalMixDefaultRouting();
    world.advance(1.0);
    EXPECT_FALSE(world.engine->isWritingTotalMixRouting());
    EXPECT_EQ(received(), TotalMixOSC::defaultRouting(2, 6));

    // The same device offering one pair only.
    world.dropEngine();
    world.audio.removeDevice(world.audio.deviceWithUID("RMEUSBDevice-1"));
    startWith(2);
    world.engine->writeTotalMixDefaultRouting();
    EXPECT_FALSE(world.engine->isWritingTotalMixRouting());
    world.advance(1.0);
    EXPECT_FALSE(totalMix.receive(0).has_value());
}
