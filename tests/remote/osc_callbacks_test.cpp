#include "remote/osc_callbacks.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace orevant {
namespace {

// Records every callback as one line of text.
struct Recorder {
    std::vector<std::string> calls;
    OSCCallbacks callbacks;

    Recorder() {
        auto f = [](float v) { return std::to_string(v); };
        callbacks.onOREVANTValueReceived = [this, f](int n, float v) {
            calls.push_back("orevant " + std::to_string(n) + " " + f(v));
        };
        callbacks.onAppVolumeReceived = [this, f](const std::string& id, float v) {
            calls.push_back("volume " + id + " " + f(v));
        };
        callbacks.onCueReceived = [this](const std::string& id, bool on) {
            calls.push_back("cue " + id + (on ? " on" : " off"));
        };
        callbacks.onCueVolumeReceived = [this, f](const std::string& id, float v) {
            calls.push_back("cuevolume " + id + " " + f(v));
        };
        callbacks.onSlotReceived = [this](int n, const std::string& t) {
            calls.push_back("slot " + std::to_string(n) + " [" + t + "]");
        };
        callbacks.onPanicReceived = [this](bool on) { calls.push_back(on ? "panic on" : "panic off"); };
        callbacks.onRecordReceived = [this](bool on) { calls.push_back(on ? "record on" : "record off"); };
        callbacks.onAutoRecReceived = [this](bool on) { calls.push_back(on ? "autorec on" : "autorec off"); };
        callbacks.onSnapshotReceived = [this](int n) { calls.push_back("snapshot " + std::to_string(n)); };
        callbacks.onSnapshotSaveReceived = [this] { calls.push_back("snapshot save"); };
    }

    std::vector<std::string> run(const std::string& address, float value) {
        calls.clear();
        callbacks.dispatch(address, value);
        return calls;
    }
};

using Calls = std::vector<std::string>;

TEST(OSCCallbacksTest, EachAddressReachesItsCallback) {
    Recorder r;
    EXPECT_EQ(r.run("/orevant/7", 0.5f), Calls{"orevant 7 0.500000"});
    EXPECT_EQ(r.run("/orevant/-3", 0.5f), Calls{"orevant -3 0.500000"});
    EXPECT_EQ(r.run("/cue/com.example.a", 0.5f), Calls{"cue com.example.a on"});
    EXPECT_EQ(r.run("/cue/com.example.a", 0.49f), Calls{"cue com.example.a off"});
    EXPECT_EQ(r.run("/cuevolume/com.example.a", 0.25f), Calls{"cuevolume com.example.a 0.250000"});
    EXPECT_EQ(r.run("/volume/bus:phones", 0.75f), Calls{"volume bus:phones 0.750000"});
    EXPECT_EQ(r.run("/volume/device:USB/1", 0.1f), Calls{"volume device:USB/1 0.100000"});
    EXPECT_EQ(r.run("/autorec", 1.0f), Calls{"autorec on"});
    EXPECT_EQ(r.run("/record", 0.0f), Calls{"record off"});
    EXPECT_EQ(r.run("/panic", 64.0f / 127.0f), Calls{"panic on"});
    EXPECT_EQ(r.run("/panic", 63.0f / 127.0f), Calls{"panic off"});
    EXPECT_EQ(r.run("/snapshot/save", 1.0f), Calls{"snapshot save"});
    EXPECT_EQ(r.run("/snapshot/+2", 1.0f), Calls{"snapshot 2"});
    EXPECT_EQ(r.run("/slot/2/com.example.a", 1.0f), Calls{"slot 2 [com.example.a]"});
    EXPECT_EQ(r.run("/slot/2/", 0.0f), Calls{"slot 2 []"});
    EXPECT_EQ(r.run("/slot/3/cue:a/b", 0.0f), Calls{"slot 3 [cue:a/b]"});
}

TEST(OSCCallbacksTest, UnmatchedOrUnparsableAddressesAreIgnored) {
    Recorder r;
    for (const char* address :
         {"/orevant/abc", "/orevant/", "/orevant/7x", "/orevant/ 7", "/orevant/99999999999", "/slot/2",
          "/slot/x/target", "/snapshot/first", "/snapshot/", "/panicky", "/record/", "/unknown", "/", "/autorec/x"})
        EXPECT_TRUE(r.run(address, 1.0f).empty()) << address;
}

TEST(OSCCallbacksTest, SnapshotMessagesBelowHalfDoNothing) {
    Recorder r;
    EXPECT_TRUE(r.run("/snapshot/save", 0.0f).empty());
    EXPECT_TRUE(r.run("/snapshot/1", 0.49f).empty());
}

TEST(OSCCallbacksTest, UnsetCallbacksAreSkipped) {
    OSCCallbacks none;
    EXPECT_TRUE(none.dispatch("/panic", 1.0f));
    EXPECT_FALSE(none.dispatch("/nothing", 1.0f));
}

TEST(OSCCallbacksTest, IntegerParseAcceptsASignAndDigitsOnly) {
    EXPECT_EQ(OSCCallbacks::parseInteger("42"), 42);
    EXPECT_EQ(OSCCallbacks::parseInteger("+42"), 42);
    EXPECT_EQ(OSCCallbacks::parseInteger("-0"), 0);
    EXPECT_EQ(OSCCallbacks::parseInteger("007"), 7);
    EXPECT_FALSE(OSCCallbacks::parseInteger(""));
    EXPECT_FALSE(OSCCallbacks::parseInteger("+"));
    EXPECT_FALSE(OSCCallbacks::parseInteger("+-1"));
    EXPECT_FALSE(OSCCallbacks::parseInteger("1.0"));
    EXPECT_FALSE(OSCCallbacks::parseInteger("0x10"));
    EXPECT_FALSE(OSCCallbacks::parseInteger("12 "));
}

} // namespace
} // namespace orevant
