// The buses' channel pairs on their own: the pairing each device gets from the stored choice and
// its channel count, and how choices are stored.
#include "engine/cue_bus.h"

#include "audio/audio_device.h"
#include "platform/defaults_store.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

using Pairing = ProcessTap::ChannelPairing;

TEST(CueBusTest, ADeviceGetsItsStoredPairsWhereItOffersThemAndNoneBelowFourChannels) {
    InMemoryDefaultsStore defaults;
    CueBus bus(defaults);
    bus.choose("shrunk", 4, 6);
    bus.choose("shared", 2, 2);
    bus.choose("swapped", 2, 0);
    const struct {
        const char* uid;
        int channels;
        std::optional<Pairing> pairing;
    } cases[] = {
        {"new", 4, Pairing{0, 2, 2}},                                      // no choice stored: outputs 1/2 and 3/4
        {"new", 2, std::nullopt},                                          // one pair only
        {"new", 3, std::nullopt},         {"shrunk", 4, Pairing{0, 2, 2}}, // the stored pairs are gone: the first two
        {"shrunk", 8, Pairing{4, 6, 2}},  {"shared", 6, Pairing{2, 0, 2}}, // never both buses on one pair
        {"swapped", 4, Pairing{2, 0, 2}},
    };
    for (const auto& c : cases) {
        const AudioDevice device{1, c.uid, c.uid, transport::usb, 0, 0, c.channels};
        EXPECT_EQ(bus.pairing(device), c.pairing) << c.uid << " with " << c.channels << " channels";
    }
}

TEST(CueBusTest, ChoicesAreStoredAsGivenAtOnceAndReportWhetherTheyChanged) {
    InMemoryDefaultsStore defaults;
    CueBus bus(defaults);
    EXPECT_TRUE(bus.choose("interface", 4, 6));
    EXPECT_FALSE(bus.choose("interface", 4, 6)) << "the same choice again";
    EXPECT_TRUE(bus.choose("interface", 0, 2));
    EXPECT_EQ(defaults.writeCount("busPairings"), 3u);

    CueBus restarted(defaults);
    restarted.load();
    EXPECT_EQ(restarted.pairings(), (CueBus::Pairings{{"interface", BusPairing{0, 2}}}));

    defaults.set("busPairings", DefaultsValue(DefaultsData{'{', 'x'}));
    restarted.load();
    EXPECT_TRUE(restarted.pairings().empty()) << "an unreadable entry gives no choices";
}

} // namespace
} // namespace orevant
