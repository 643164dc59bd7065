#include "remote/pairing_pin.h"

#include "platform/defaults_store.h"

#include <array>
#include <gtest/gtest.h>

namespace orevant {
namespace {

// Checked independently of PairingPIN::isValid, which a fault could share with the code it checks.
bool sixDigits(const std::string& pin) {
    return pin.size() == 6 && pin.find_first_not_of("0123456789") == std::string::npos;
}

// Catches a stored PIN that is not six ASCII digits being used as it is, a valid one being
// replaced, and a new PIN that is not stored.
TEST(PairingPINTest, OnlyAValidStoredPINIsKeptAndEveryNewOneIsStored) {
    InMemoryDefaultsStore kept;
    kept.set("companionPairingPIN", std::string("012345"));
    EXPECT_EQ(PairingPIN(kept).pin(), "012345");
    EXPECT_EQ(kept.writeCount("companionPairingPIN"), 1u);

    for (const DefaultsValue& stored : {DefaultsValue(std::string("12345")), DefaultsValue(std::string("12a456")),
                                        DefaultsValue(std::string("1234567")), DefaultsValue(int64_t{123456}),
                                        DefaultsValue(std::string("\xd9\xa1\xd9\xa2\xd9\xa3"))}) {
        InMemoryDefaultsStore defaults;
        defaults.set("companionPairingPIN", stored);
        PairingPIN pin(defaults);
        EXPECT_TRUE(sixDigits(pin.pin())) << pin.pin();
        EXPECT_EQ(defaults.string("companionPairingPIN"), pin.pin());
    }
    InMemoryDefaultsStore empty;
    PairingPIN pin(empty);
    const std::string first = pin.pin();
    EXPECT_EQ(empty.string("companionPairingPIN"), first);
    EXPECT_TRUE(sixDigits(first));
    pin.regenerate();
    EXPECT_TRUE(sixDigits(pin.pin()));
    EXPECT_EQ(empty.string("companionPairingPIN"), pin.pin());
    EXPECT_EQ(empty.writeCount("companionPairingPIN"), 2u);
}

TEST(PairingPINTest, GeneratedDigitsCoverTheWholeRange) {
    // 600 digits: the chance that a fair source misses any one digit is below 1e-26.
    std::array<int, 10> seen{};
    for (int i = 0; i < 100; ++i) {
        const std::string pin = PairingPIN::generate();
        ASSERT_TRUE(sixDigits(pin)) << pin;
        for (const char c : pin) ++seen[static_cast<size_t>(c - '0')];
    }
    for (int digit = 0; digit < 10; ++digit) EXPECT_GT(seen[static_cast<size_t>(digit)], 0) << digit;
}

} // namespace
} // namespace orevant
