#include "remote/pin_gate.h"

#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

class PINGateTest : public ::testing::Test {
protected:
    ManualMainQueue queue;
    PINGate gate{queue.hostClock()};

    void SetUp() override { gate.setPIN("123456"); }
    void badPINs(int count) {
        for (int i = 0; i < count; ++i) EXPECT_FALSE(gate.admit("/a/000000/panic"));
    }
};

// Catches a PIN matched by prefix, an address without the PIN form counted as a guess, and a
// wrong candidate that passes.
TEST_F(PINGateTest, OnlyTheRightPINPassesAndOnlyPINFormsCount) {
    struct Case {
        const char* address;
        std::optional<std::string> admitted;
        int counted;
    };
    const Case cases[] = {
        {"/a/123456/panic", "/panic", 0}, {"/a/123456/slot/2/", "/slot/2/", 0}, {"/a/123456/", "/", 0},
        {"/a/123456", std::nullopt, 0},   {"/panic", std::nullopt, 0},          {"/b/123456/panic", std::nullopt, 0},
        {"/a", std::nullopt, 0},          {"/a/12345/panic", std::nullopt, 1},  {"/a/1234567/panic", std::nullopt, 1},
        {"/a//panic", std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const int before = gate.failureCount();
        EXPECT_EQ(gate.admit(c.address), c.admitted);
        EXPECT_EQ(gate.failureCount() - before, c.counted);
    }
}

// Catches a lockout that starts one guess late or early, lasts the wrong time, is extended or
// counted into by guesses made during it, or leaves the count behind when it ends. A right PIN
// between the wrong ones once cleared the count: an attacker got nine guesses per phone message.
TEST_F(PINGateTest, TenBadPINsLockEveryoneOutForTenSeconds) {
    badPINs(9);
    EXPECT_EQ(gate.admit("/a/123456/panic"), "/panic");
    badPINs(1);
    queue.advance(9.999);
    EXPECT_FALSE(gate.admit("/a/123456/panic"));
    badPINs(20);
    EXPECT_EQ(gate.badPINsCounted(), 10u);
    queue.advance(0.001);
    EXPECT_EQ(gate.admit("/a/123456/panic"), "/panic");
    badPINs(9);
    EXPECT_EQ(gate.admit("/a/123456/panic"), "/panic");
}

// Catches an empty stored PIN matching an empty candidate, and a reissued PIN resetting the count.
TEST_F(PINGateTest, NoStoredPINAdmitsNothingAndANewPINKeepsTheCount) {
    PINGate fresh(queue.hostClock());
    EXPECT_FALSE(fresh.admit("/a//panic"));
    for (int i = 0; i < 9; ++i) EXPECT_FALSE(fresh.admit("/a/123456/panic"));
    EXPECT_TRUE(fresh.isLockedOut());

    badPINs(5);
    gate.setPIN("654321");
    EXPECT_FALSE(gate.admit("/a/123456/panic"));
    EXPECT_EQ(gate.failureCount(), 6);
    EXPECT_EQ(gate.admit("/a/654321/record"), "/record");
}

} // namespace
} // namespace orevant
