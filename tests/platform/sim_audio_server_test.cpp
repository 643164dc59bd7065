#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"

#include <gtest/gtest.h>

using namespace orevant;

namespace {
struct SimAudioServerTest : ::testing::Test {
    ManualMainQueue queue;
    SimAudioServer server{queue};
    const PropertyAddress volumeOut{sel::virtualMainVolume, scope::output, 0};
};

float readVolume(SimAudioServer& server, AudioObjectID dev, const PropertyAddress& address, OSStatus& status) {
    float value = -1;
    uint32_t size = sizeof value;
    status = server.getPropertyData(dev, address, size, &value);
    return value;
}
} // namespace

// Delivery of changes on the main queue is checked through the HAL wrapper (hal_test.cpp).
TEST_F(SimAudioServerTest, RefusedWritesAndRemovalsChangeNothingAndFailuresHitOnlyTheirObjectAndOperations) {
    const AudioObjectID dev = server.createObject(simclass::device);
    const AudioObjectID other = server.createObject(simclass::device);
    for (AudioObjectID d : {dev, other}) {
        server.setValue<float>(d, sel::virtualMainVolume, scope::output, 0.8f);
        server.setSettable(d, sel::virtualMainVolume, scope::output, true);
    }
    ListenerID id = 0;
    ASSERT_EQ(server.addPropertyListener(
                  dev, volumeOut, [](uint32_t, const PropertyAddress*) {}, id),
              status::noErr);
    const double wide = 0.25;
    EXPECT_EQ(server.setPropertyData(dev, volumeOut, 8, &wide), status::badPropertySize);
    EXPECT_EQ(server.clientWriteCount(dev, sel::virtualMainVolume, scope::output), 0u);
    // Removal must name the same object and address; a mismatch keeps the registration.
    EXPECT_NE(server.removePropertyListener(dev, PropertyAddress{sel::mute, scope::output, 0}, id), status::noErr);
    EXPECT_NE(server.removePropertyListener(other, volumeOut, id), status::noErr);
    EXPECT_NE(server.removePropertyListener(dev, PropertyAddress{sel::virtualMainVolume, scope::input, 0}, id),
              status::noErr);
    EXPECT_EQ(server.listenerCount(dev, sel::virtualMainVolume), 1u);

    server.injectFailure(dev, sel::virtualMainVolume, 42, SimAudioServer::opGet | SimAudioServer::opSettable);
    OSStatus s;
    readVolume(server, dev, volumeOut, s);
    EXPECT_EQ(s, 42);
    bool settable = true;
    EXPECT_EQ(server.isPropertySettable(dev, volumeOut, settable), 42);
    const float quiet = 0.2f;
    EXPECT_EQ(server.setPropertyData(dev, volumeOut, 4, &quiet), status::noErr);
    EXPECT_FLOAT_EQ(readVolume(server, other, volumeOut, s), 0.8f);
    EXPECT_EQ(s, status::noErr);
    server.clearFailure(dev, sel::virtualMainVolume);
    EXPECT_FLOAT_EQ(readVolume(server, dev, volumeOut, s), 0.2f);
}

TEST_F(SimAudioServerTest, DestroyedObjectsFailReadsAndTheirListenersStaySilent) {
    const AudioObjectID dev = server.createObject(simclass::device);
    server.setValue<uint32_t>(dev, sel::deviceIsAlive, scope::global, 1);
    int calls = 0;
    ListenerID id = 0;
    server.addPropertyListener(
        dev, PropertyAddress{sel::deviceIsAlive, scope::global, 0}, [&](uint32_t, const PropertyAddress*) { ++calls; },
        id);
    server.setValue<uint32_t>(dev, sel::deviceIsAlive, scope::global, 0);
    server.destroyObject(dev);
    EXPECT_FALSE(server.exists(dev));
    EXPECT_EQ(server.objectClass(dev), 0u);
    uint32_t value = 0, size = 4;
    EXPECT_EQ(server.getPropertyData(dev, PropertyAddress{sel::deviceIsAlive, scope::global, 0}, size, &value),
              status::badObject);
    queue.runUntilIdle(); // the change before destruction is still delivered
    EXPECT_EQ(calls, 1);
    server.destroyObject(kAudioObjectSystemObject); // the system object cannot go
    EXPECT_TRUE(server.exists(kAudioObjectSystemObject));
}
