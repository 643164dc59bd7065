#include "remote/pairing_pin.h"

#include "platform/defaults_store.h"

#include <array>
#include <gtest/gtest.h>

namespace orevant {
namespace {

TEST(PairingPINTest, ValidStoredPINIsKept) {
    InMemoryDefaultsStore defaults;
    defaults.set("companionPairingPIN", std::string("012345"));
    PairingPIN pin(defaults);
    EXPECT_EQ(pin.pin(), "012345");
    EXPECT_EQ(defaults.writeCount("companionPairingPIN"), 1u);
}

TEST(PairingPINTest, MissingOrInvalidStoredPINIsReplaced) {
    for (const DefaultsValue& stored : {DefaultsValue(std::string("12345")), DefaultsValue(std::string("12a456")),
                                        DefaultsValue(std::string("1234567")), DefaultsValue(int64_t{123456}),
                                        DefaultsValue(std::string("\xd9\xa1\xd9\xa2\xd9\xa3"))}) {
        InMemoryDefaultsStore defaults;
        defaults.set("companionPairingPIN", stored);
        PairingPIN pin(defaults);
        EXPECT_TRUE(PairingPIN::isValid(pin.pin())) << pin.pin();
        EXPECT_EQ(defaults.string("companionPairingPIN"), pin.pin());
    }
    InMemoryDefaultsStore empty;
    PairingPIN pin(empty);
    EXPECT_TRUE(PairingPIN::isValid(pin.pin()));
    EXPECT_EQ(empty.string("companionPairingPIN"), pin.pin());
}

TEST(PairingPINTest, RegenerateStoresTheNewPIN) {
    InMemoryDefaultsStore defaults;
    PairingPIN pin(defaults);
    const size_t writes = defaults.writeCount("companionPairingPIN");
    pin.regenerate();
    EXPECT_TRUE(PairingPIN::isValid(pin.pin()));
    EXPECT_EQ(defaults.string("companionPairingPIN"), pin.pin());
    EXPECT_EQ(defaults.writeCount("companionPairingPIN"), writes + 1);
}

TEST(PairingPINTest, GeneratedDigitsCoverTheWholeRange) {
    // 600 digits: the chance that a fair source misses any one digit is below 1e-26.
    std::array<int, 10> seen{};
    for (int i = 0; i < 100; ++i) {
        const std::string pin = PairingPIN::generate();
        ASSERT_TRUE(PairingPIN::isValid(pin)) << pin;
        for (const char c : pin) ++seen[static_cast<size_t>(c - '0')];
    }
    for (int digit = 0; digit < 10; ++digit) EXPECT_GT(seen[static_cast<size_t>(digit)], 0) << digit;
}

} // namespace
} // namespace orevant
