#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"

#include <gtest/gtest.h>

#include <memory>

using namespace orevant;

namespace {
struct HALTest : ::testing::Test {
    ManualMainQueue queue;
    SimAudioServer server{queue};
    HAL hal{server};
};
} // namespace

TEST_F(HALTest, ArrayReadsAskTheSizeFirstAndDivideByFour) {
    server.setBytes(kAudioObjectSystemObject, sel::processObjectList, scope::global, {});
    EXPECT_TRUE(hal.readIDs(kAudioObjectSystemObject, sel::processObjectList).empty());
    // Only the size query reached the server for the empty list.
    EXPECT_EQ(server.getCallCount(kAudioObjectSystemObject, sel::processObjectList), 1u);

    server.setBytes(kAudioObjectSystemObject, sel::processObjectList, scope::global, {7, 0, 0, 0, 9, 9});
    auto ids = hal.readIDs(kAudioObjectSystemObject, sel::processObjectList);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0], 7u);
}

TEST_F(HALTest, FailedReadsThrowWithTheSelectorInDecimal) {
    server.setIDs(kAudioObjectSystemObject, sel::processObjectList, scope::global, {3});
    server.injectFailure(kAudioObjectSystemObject, sel::processObjectList, -50, SimAudioServer::opGet);
    try {
        hal.readIDs(kAudioObjectSystemObject, sel::processObjectList);
        FAIL() << "expected HALError";
    } catch (const HALError& e) {
        EXPECT_EQ(e.kind(), HALError::Kind::osStatus);
        EXPECT_STREQ(e.what(), "HAL property 1886548771 failed: OSStatus -50");
    }
    EXPECT_EQ(HALError::operation(-1, "create process tap").localizedDescription(),
              "Failed to create process tap: OSStatus -1");
}

TEST_F(HALTest, WritesSettableTestAndListeners) {
    const AudioObjectID dev = server.createObject(simclass::device);
    server.setValue<float>(dev, sel::virtualMainVolume, scope::output, 0.25f);
    EXPECT_FALSE(hal.isSettable(dev, sel::virtualMainVolume, scope::output));
    EXPECT_THROW(hal.write(dev, sel::virtualMainVolume, scope::output, 0.5f), HALError);
    server.setSettable(dev, sel::virtualMainVolume, scope::output, true);
    EXPECT_TRUE(hal.isSettable(dev, sel::virtualMainVolume, scope::output));

    int calls = 0;
    auto listener = std::make_unique<HALListener>(server, dev, PropertyAddress{sel::virtualMainVolume, scope::output, 0},
                                                  [&](uint32_t, const PropertyAddress*) { ++calls; });
    hal.write(dev, sel::virtualMainVolume, scope::output, 0.5f);
    EXPECT_EQ(calls, 0); // delivered on the main queue, not inline
    queue.runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_FLOAT_EQ(hal.read<float>(dev, sel::virtualMainVolume, scope::output), 0.5f);

    hal.write(dev, sel::virtualMainVolume, scope::output, 0.75f);
    listener.reset(); // dropped before delivery: the block never runs
    queue.runUntilIdle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(server.listenerCount(dev, sel::virtualMainVolume), 0u);

    server.injectFailure(dev, sel::virtualMainVolume, 1, SimAudioServer::opSettable);
    EXPECT_FALSE(hal.isSettable(dev, sel::virtualMainVolume, scope::output));
}
