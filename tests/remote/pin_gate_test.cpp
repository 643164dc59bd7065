#include "remote/pin_gate.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

class PINGateTest : public ::testing::Test {
protected:
    ManualMainQueue queue;
    PINGate gate{queue.hostClock()};
    ScopedLogCapture logs;

    void SetUp() override { gate.setPIN("123456"); }
    void badPINs(int count) {
        for (int i = 0; i < count; ++i) EXPECT_FALSE(gate.admit("/a/000000/panic"));
    }
};

TEST_F(PINGateTest, RightPINIsAdmittedWithTheAddressAfterIt) {
    EXPECT_EQ(gate.admit("/a/123456/panic"), "/panic");
    EXPECT_EQ(gate.admit("/a/123456/slot/2/"), "/slot/2/");
    EXPECT_EQ(gate.admit("/a/123456/"), "/");
}

TEST_F(PINGateTest, AddressesWithoutThePINFormAreDroppedUncounted) {
    EXPECT_FALSE(gate.admit("/a/123456"));
    EXPECT_FALSE(gate.admit("/panic"));
    EXPECT_FALSE(gate.admit("/b/123456/panic"));
    EXPECT_FALSE(gate.admit("/a"));
    EXPECT_EQ(gate.failureCount(), 0);
}

TEST_F(PINGateTest, TenBadPINsLockEveryoneOutForTenSeconds) {
    badPINs(9);
    EXPECT_EQ(logs->count("Too many bad PINs"), 0u);
    EXPECT_FALSE(gate.admit("/a/999999/panic"));
    EXPECT_EQ(logs->count("Too many bad PINs; ignoring OSC for 10s", LogLevel::error), 1u);
    EXPECT_TRUE(gate.isLockedOut());
    EXPECT_EQ(gate.failureCount(), 0);

    // During the lockout the right PIN is refused; bad ones are neither counted nor extend it.
    queue.advance(9.999);
    EXPECT_FALSE(gate.admit("/a/123456/panic"));
    badPINs(20);
    EXPECT_EQ(gate.failureCount(), 0);
    EXPECT_EQ(logs->count("Too many bad PINs"), 1u);

    queue.advance(0.001);
    EXPECT_FALSE(gate.isLockedOut());
    EXPECT_EQ(gate.admit("/a/123456/panic"), "/panic");
    EXPECT_EQ(gate.failureCount(), 0);
    badPINs(9);
    EXPECT_FALSE(gate.isLockedOut());
}

// A right PIN once cleared the count, so an attacker got nine guesses per phone message.
TEST_F(PINGateTest, RightPINBetweenWrongOnesLeavesTheCount) {
    badPINs(9);
    EXPECT_TRUE(gate.admit("/a/123456/panic"));
    EXPECT_EQ(gate.failureCount(), 9);
    EXPECT_FALSE(gate.admit("/a/000001/panic"));
    EXPECT_TRUE(gate.isLockedOut());
    EXPECT_EQ(gate.badPINsCounted(), 10u);
}

TEST_F(PINGateTest, WithoutAStoredPINEveryPINIsBad) {
    PINGate fresh(queue.hostClock());
    EXPECT_FALSE(fresh.admit("/a//panic")); // an empty candidate never matches
    for (int i = 0; i < 9; ++i) EXPECT_FALSE(fresh.admit("/a/123456/panic"));
    EXPECT_TRUE(fresh.isLockedOut());
}

TEST_F(PINGateTest, SetPINKeepsTheCountAndTheLockout) {
    badPINs(5);
    gate.setPIN("654321");
    EXPECT_EQ(gate.failureCount(), 5);
    EXPECT_FALSE(gate.admit("/a/123456/panic"));
    EXPECT_EQ(gate.failureCount(), 6);
    EXPECT_EQ(gate.admit("/a/654321/record"), "/record");
}

} // namespace
} // namespace orevant
