#include "remote/osc_callbacks.h"

#include <gtest/gtest.h>
#include <string>

namespace orevant {
namespace {

// Each callback writes one line, so a row names the callback, its arguments and the switch state.
std::string dispatched(const std::string& address, float value) {
    std::string call;
    auto number = [](float v) { return std::to_string(v).substr(0, 4); };
    OSCCallbacks c;
    c.onOREVANTValueReceived = [&](int n, float v) { call = "orevant " + std::to_string(n) + " " + number(v); };
    c.onAppVolumeReceived = [&](const std::string& id, float v) { call = "volume " + id + " " + number(v); };
    c.onCueReceived = [&](const std::string& id, bool on) { call = "cue " + id + (on ? " on" : " off"); };
    c.onCueVolumeReceived = [&](const std::string& id, float v) { call = "cuevolume " + id + " " + number(v); };
    c.onSlotReceived = [&](int n, const std::string& t) { call = "slot " + std::to_string(n) + " [" + t + "]"; };
    c.onPanicReceived = [&](bool on) { call = on ? "panic on" : "panic off"; };
    c.onRecordReceived = [&](bool on) { call = on ? "record on" : "record off"; };
    c.onAutoRecReceived = [&](bool on) { call = on ? "autorec on" : "autorec off"; };
    c.onSnapshotReceived = [&](int n) { call = "snapshot " + std::to_string(n); };
    c.onSnapshotSaveReceived = [&] { call = "snapshot save"; };
    const bool acted = c.dispatch(address, value);
    EXPECT_EQ(acted, !call.empty()) << "dispatch reports whether a row acted";
    return call;
}

// Catches a row matched by the wrong prefix, a switch threshold off by one step, a number read
// leniently ("7x", "0x10", out of range) and a scene button acting on its release.
TEST(OSCCallbacksTest, EachAddressReachesOnlyItsCallback) {
    struct Case {
        const char* address;
        float value;
        const char* call; // "" for ignored
    };
    const Case cases[] = {
        {"/orevant/7", 0.5f, "orevant 7 0.50"},
        {"/orevant/-3", 0.5f, "orevant -3 0.50"},
        {"/cue/com.example.a", 0.5f, "cue com.example.a on"},
        {"/cue/com.example.a", 0.49f, "cue com.example.a off"},
        {"/cuevolume/com.example.a", 0.25f, "cuevolume com.example.a 0.25"},
        {"/volume/device:USB/1", 0.1f, "volume device:USB/1 0.10"},
        {"/autorec", 1.0f, "autorec on"},
        {"/record", 0.0f, "record off"},
        {"/panic", 64.0f / 127.0f, "panic on"},
        {"/panic", 63.0f / 127.0f, "panic off"},
        {"/snapshot/save", 1.0f, "snapshot save"},
        {"/snapshot/+2", 1.0f, "snapshot 2"},
        {"/snapshot/007", 1.0f, "snapshot 7"},
        {"/slot/2/com.example.a", 1.0f, "slot 2 [com.example.a]"},
        {"/slot/2/", 0.0f, "slot 2 []"},
        {"/slot/3/cue:a/b", 0.0f, "slot 3 [cue:a/b]"},
        {"/snapshot/save", 0.0f, ""},
        {"/snapshot/1", 0.49f, ""},
        {"/orevant/", 1.0f, ""},
        {"/orevant/7x", 1.0f, ""},
        {"/orevant/ 7", 1.0f, ""},
        {"/orevant/+-1", 1.0f, ""},
        {"/orevant/0x10", 1.0f, ""},
        {"/orevant/1.0", 1.0f, ""},
        {"/orevant/99999999999", 1.0f, ""},
        {"/snapshot/-", 1.0f, ""},
        {"/slot/2", 1.0f, ""},
        {"/slot/x/target", 1.0f, ""},
        {"/panicky", 1.0f, ""},
        {"/record/", 1.0f, ""},
        {"/", 1.0f, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.value));
        EXPECT_EQ(dispatched(c.address, c.value), c.call);
    }
    EXPECT_TRUE(OSCCallbacks{}.dispatch("/panic", 1.0f)) << "an unset callback is skipped, not called";
}

} // namespace
} // namespace orevant
