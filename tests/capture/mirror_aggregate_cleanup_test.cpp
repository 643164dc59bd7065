#include "capture/mirror_aggregate_cleanup.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

class MirrorAggregateCleanupTest : public ::testing::Test {
protected:
    // A public aggregate left behind by an earlier run.
    AudioObjectID leftover(const std::string& uid, std::vector<std::string> subDevices) {
        const AudioObjectID id = server.createObject(simclass::aggregate);
        server.setString(id, sel::deviceUID, scope::global, uid, false);
        server.setString(id, sel::name, scope::global, "Multi-Output Device", false);
        server.setValue<uint32_t>(id, sel::transportType, scope::global, transport::aggregate, false);
        server.setStringList(id, sel::aggregateFullSubDeviceList, scope::global, std::move(subDevices), false);
        server.appendID(kAudioObjectSystemObject, sel::deviceList, scope::global, id);
        return id;
    }
    AudioObjectID plug(const std::string& uid) { return system.addDevice(test::deviceSpec(uid)); }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    MirrorAggregateCleanup cleanup{server};
    ScopedLogCapture logs;
};

TEST_F(MirrorAggregateCleanupTest, LeftoverDefaultMovesToItsFirstSubDeviceBeforeDestruction) {
    plug("builtin");
    const AudioObjectID usb = plug("usb");
    const AudioObjectID hdmi = plug("hdmi");
    const AudioObjectID mirror = leftover("com.brenlake.orevant.multi-output", {"missing", "usb", "hdmi"});
    system.setDefaultOutput(mirror);
    EXPECT_EQ(cleanup.subDevices(mirror), (std::vector<AudioObjectID>{usb, hdmi}));

    AudioObjectID defaultWhenDestroyed = 0;
    server.addObserver([&](SimAudioServer::Event event, AudioObjectID object, const PropertyAddress&) {
        if (event == SimAudioServer::Event::destroyed && object == mirror)
            defaultWhenDestroyed = system.defaultOutput();
    });
    cleanup.run();
    EXPECT_EQ(defaultWhenDestroyed, usb);
    EXPECT_FALSE(server.exists(mirror));
    EXPECT_EQ(system.deviceWithUID("com.brenlake.orevant.multi-output"), 0u);
    EXPECT_EQ(logs->count("Destroyed leftover mirror aggregate com.brenlake.orevant.multi-output", LogLevel::info), 1u);
}

TEST_F(MirrorAggregateCleanupTest, OlderIdentifierIsCleanedLookalikesStay) {
    const AudioObjectID speakers = plug("builtin");
    system.setDefaultOutput(speakers);
    const AudioObjectID older = leftover("dev.tessaline.movra.multi-output", {"builtin"});
    const AudioObjectID suffixed = leftover("com.brenlake.orevant.multi-output.2", {"builtin"});
    const AudioObjectID upper = leftover("COM.BRENLAKE.OREVANT.MULTI-OUTPUT", {"builtin"});
    const AudioObjectID unreadable = leftover("com.brenlake.orevant.multi-output", {});
    server.injectFailure(unreadable, sel::deviceUID, status::unspecified);
    cleanup.run();
    EXPECT_FALSE(server.exists(older));
    EXPECT_TRUE(server.exists(suffixed));
    EXPECT_TRUE(server.exists(upper));
    EXPECT_TRUE(server.exists(unreadable));
    EXPECT_EQ(system.defaultOutput(), speakers); // not the default: nothing moved
    EXPECT_EQ(server.clientWriteCount(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global), 0u);
    EXPECT_EQ(logs->count("Destroyed leftover mirror aggregate", LogLevel::info), 1u);
}

TEST_F(MirrorAggregateCleanupTest, LeftoverDefaultWithoutSubDevicesIsDestroyedAllTheSame) {
    const AudioObjectID mirror = leftover("com.brenlake.orevant.multi-output", {});
    system.setDefaultOutput(mirror);
    cleanup.run();
    EXPECT_FALSE(server.exists(mirror));
    EXPECT_EQ(server.clientWriteCount(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global), 0u);

    // An aggregate the server refuses to destroy is not reported as destroyed.
    const AudioObjectID stuck = plug("com.brenlake.orevant.multi-output"); // a device, not an aggregate
    logs->clear();
    cleanup.run();
    EXPECT_TRUE(server.exists(stuck));
    EXPECT_FALSE(logs->contains("Destroyed leftover"));
    EXPECT_EQ(
        logs->count("Failed to destroy leftover mirror aggregate com.brenlake.orevant.multi-output", LogLevel::error),
        1u);
}

} // namespace
} // namespace orevant
