#include "engine/channel_pairing_policy.h"

#include "engine/bus_pairing.h"
#include "engine/output_bus.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

using ChannelPairingPolicy::Pair;

std::vector<int> offsets(int channels) {
    std::vector<int> result;
    for (const Pair& pair : ChannelPairingPolicy::pairs(channels)) result.push_back(pair.offset);
    return result;
}

TEST(ChannelPairingPolicyTest, PairsNeedBothChannels) {
    EXPECT_EQ(offsets(-3), std::vector<int>{});
    EXPECT_EQ(offsets(0), std::vector<int>{});
    EXPECT_EQ(offsets(1), std::vector<int>{});
    EXPECT_EQ(offsets(2), std::vector<int>{0});
    EXPECT_EQ(offsets(3), std::vector<int>{0});
    EXPECT_EQ(offsets(4), (std::vector<int>{0, 2}));
    EXPECT_EQ(offsets(5), (std::vector<int>{0, 2}));
    EXPECT_EQ(offsets(6), (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(offsets(8), (std::vector<int>{0, 2, 4, 6}));
    EXPECT_EQ(Pair{0}.label(), "1/2");
    EXPECT_EQ(Pair{2}.label(), "3/4");
    EXPECT_EQ(Pair{10}.label(), "11/12");
}

TEST(ChannelPairingPolicyTest, ValidateKeepsOfferedChoicesAndNeverSharesAPair) {
    using Result = std::optional<std::pair<int, int>>;
    EXPECT_EQ(ChannelPairingPolicy::validate(0, 2, 2), Result{});
    EXPECT_EQ(ChannelPairingPolicy::validate(0, 2, 3), Result{});
    EXPECT_EQ(ChannelPairingPolicy::validate(0, 2, 4), (Result{{0, 2}}));
    EXPECT_EQ(ChannelPairingPolicy::validate(2, 0, 4), (Result{{2, 0}}));
    // Stored 4/6 on a device that now has 4 channels: first and second pair.
    EXPECT_EQ(ChannelPairingPolicy::validate(4, 6, 4), (Result{{0, 2}}));
    // Both on one pair: PHONES moves to the first pair that differs.
    EXPECT_EQ(ChannelPairingPolicy::validate(2, 2, 6), (Result{{2, 0}}));
    EXPECT_EQ(ChannelPairingPolicy::validate(0, 0, 6), (Result{{0, 2}}));
    // Odd or negative offsets are not pairs.
    EXPECT_EQ(ChannelPairingPolicy::validate(1, -2, 8), (Result{{0, 2}}));
    EXPECT_EQ(ChannelPairingPolicy::validate(6, 3, 8), (Result{{6, 2}}));
    EXPECT_EQ(ChannelPairingPolicy::validate(2, 0, 8), (Result{{2, 0}}));
}

TEST(BusPairingTest, StoredFormRoundTripsAndRequiresBothOffsets) {
    const Json encoded = BusPairing{4, 6};
    EXPECT_EQ(encoded.dump(), R"({"mainOffset":4,"phonesOffset":6})");
    EXPECT_EQ(JSONDefaults::decode<BusPairing>(encoded), (BusPairing{4, 6}));
    EXPECT_EQ(JSONDefaults::decode<BusPairing>(Json::parse(R"({"phonesOffset":0,"mainOffset":2.0})")),
              (BusPairing{2, 0}));
    EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse(R"({"mainOffset":4})")).has_value());
    EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse(R"({"mainOffset":"4","phonesOffset":6})")).has_value());
    EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse(R"({"mainOffset":2.5,"phonesOffset":6})")).has_value());
    EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse(R"({"mainOffset":1e30,"phonesOffset":6})")).has_value());
    EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse("[0,2]")).has_value());
}

TEST(OutputBusTest, RawValues) {
    EXPECT_EQ(rawValue(OutputBus::main), "main");
    EXPECT_EQ(rawValue(OutputBus::phones), "phones");
    EXPECT_EQ(outputBus("main"), OutputBus::main);
    EXPECT_EQ(outputBus("phones"), OutputBus::phones);
    EXPECT_EQ(outputBus("Main"), std::nullopt);
    EXPECT_EQ(outputBus(""), std::nullopt);
}

} // namespace
} // namespace orevant
