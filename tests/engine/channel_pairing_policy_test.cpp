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
    const std::pair<int, std::vector<int>> cases[] = {
        {-3, {}}, {0, {}}, {1, {}}, {2, {0}}, {3, {0}}, {4, {0, 2}}, {5, {0, 2}}, {6, {0, 2, 4}}, {8, {0, 2, 4, 6}}};
    for (const auto& [channels, pairs] : cases) EXPECT_EQ(offsets(channels), pairs) << channels;
    EXPECT_EQ(Pair{0}.label(), "1/2");
    EXPECT_EQ(Pair{10}.label(), "11/12");
}

TEST(ChannelPairingPolicyTest, ValidateKeepsOfferedChoicesAndNeverSharesAPair) {
    using Result = std::optional<std::pair<int, int>>;
    const struct {
        int main, phones, channels;
        Result valid;
    } cases[] = {
        {0, 2, 2, {}},       {0, 2, 3, {}},        {0, 2, 4, {{0, 2}}},
        {2, 0, 4, {{2, 0}}}, {4, 6, 4, {{0, 2}}},  // the stored pairs are gone: the first and second
        {2, 2, 6, {{2, 0}}},                       // both on one pair: PHONES moves to the first that differs
        {0, 0, 6, {{0, 2}}}, {1, -2, 8, {{0, 2}}}, // odd or negative offsets are not pairs
        {6, 3, 8, {{6, 2}}}, {2, 0, 8, {{2, 0}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChannelPairingPolicy::validate(c.main, c.phones, c.channels), c.valid) << c.main << "/" << c.phones;
}

TEST(BusPairingTest, StoredFormRoundTripsAndRequiresBothOffsets) {
    const Json encoded = BusPairing{4, 6};
    EXPECT_EQ(encoded.dump(), R"({"mainOffset":4,"phonesOffset":6})");
    EXPECT_EQ(JSONDefaults::decode<BusPairing>(encoded), (BusPairing{4, 6}));
    EXPECT_EQ(JSONDefaults::decode<BusPairing>(Json::parse(R"({"phonesOffset":0,"mainOffset":2.0})")),
              (BusPairing{2, 0}));
    for (const char* bad :
         {R"({"mainOffset":4})", R"({"mainOffset":"4","phonesOffset":6})", R"({"mainOffset":2.5,"phonesOffset":6})",
          R"({"mainOffset":1e30,"phonesOffset":6})", "[0,2]"})
        EXPECT_FALSE(JSONDefaults::decode<BusPairing>(Json::parse(bad)).has_value()) << bad;
}

TEST(OutputBusTest, NamesRoundTripAndOthersAreRefused) {
    for (OutputBus bus : {OutputBus::main, OutputBus::phones}) EXPECT_EQ(outputBus(rawValue(bus)), bus);
    EXPECT_EQ(rawValue(OutputBus::phones), "phones");
    for (const char* other : {"Main", ""}) EXPECT_EQ(outputBus(other), std::nullopt) << other;
}

} // namespace
} // namespace orevant
