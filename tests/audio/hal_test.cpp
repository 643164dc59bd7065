#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"

#include <gmock/gmock.h>
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

TEST_F(HALTest, ArrayReadsAskTheSizeFirstDivideByFourAndFailNamingTheSelectorInDecimal) {
    server.setBytes(kAudioObjectSystemObject, sel::processObjectList, scope::global, {});
    EXPECT_TRUE(hal.readIDs(kAudioObjectSystemObject, sel::processObjectList).empty());
    EXPECT_EQ(server.getCallCount(kAudioObjectSystemObject, sel::processObjectList), 1u);

    server.setBytes(kAudioObjectSystemObject, sel::processObjectList, scope::global, {7, 0, 0, 0, 9, 9});
    auto ids = hal.readIDs(kAudioObjectSystemObject, sel::processObjectList);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(ids[0], 7u);
    server.injectFailure(kAudioObjectSystemObject, sel::processObjectList, -1, SimAudioServer::opGetSize);
    EXPECT_THROW(hal.readIDs(kAudioObjectSystemObject, sel::processObjectList), HALError);
    server.clearFailure(kAudioObjectSystemObject, sel::processObjectList);

    server.injectFailure(kAudioObjectSystemObject, sel::processObjectList, -50, SimAudioServer::opGet);
    EXPECT_THAT([&] { hal.readIDs(kAudioObjectSystemObject, sel::processObjectList); },
                ::testing::ThrowsMessage<HALError>(::testing::StrEq("HAL property 1886548771 failed: OSStatus -50")));
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
    auto listener =
        std::make_unique<HALListener>(server, dev, PropertyAddress{sel::virtualMainVolume, scope::output, 0},
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

    server.injectFailure(dev, sel::virtualMainVolume, 1, SimAudioServer::opSettable);
    EXPECT_FALSE(hal.isSettable(dev, sel::virtualMainVolume, scope::output));
}

TEST_F(HALTest, ReadsEachWidthStringsAndListsAndFallsBackToTheGlobalScope) {
    const AudioObjectID dev = server.createObject(simclass::device);
    const AudioObjectID proc = server.createObject(simclass::process);
    server.setValue<int32_t>(proc, sel::processPID, scope::global, -42);
    server.setValue<double>(dev, sel::nominalSampleRate, scope::global, 44100.0);
    AudioStreamBasicDescription format{};
    format.sampleRate = 48000;
    format.formatID = kAudioFormatLinearPCM;
    format.channelsPerFrame = 8;
    server.setValue(dev, sel::streamFormat, scope::output, format);
    server.setString(dev, sel::deviceUID, scope::global, "BuiltInSpeakers");
    server.setStringList(dev, sel::aggregateFullSubDeviceList, scope::global, {"A", "B"});

    EXPECT_EQ(hal.read<int32_t>(proc, sel::processPID), -42);
    // A global property is found through a scoped address.
    EXPECT_EQ(hal.read<double>(dev, sel::nominalSampleRate, scope::output), 44100.0);
    const auto read = hal.read<AudioStreamBasicDescription>(dev, sel::streamFormat, scope::output);
    EXPECT_EQ(read.sampleRate, 48000);
    EXPECT_EQ(read.channelsPerFrame, 8u);
    EXPECT_EQ(hal.readString(dev, sel::deviceUID), "BuiltInSpeakers");
    EXPECT_EQ(hal.readStringList(dev, sel::aggregateFullSubDeviceList), (std::vector<std::string>{"A", "B"}));

    // A scoped property is not found through the other scope.
    EXPECT_THROW(hal.read<AudioStreamBasicDescription>(dev, sel::streamFormat, scope::input), HALError);
    server.injectFailure(dev, sel::deviceUID, 560947818);
    EXPECT_THROW(hal.readString(dev, sel::deviceUID), HALError);
}

TEST_F(HALTest, ReplacingAListenerMovesTheRegistrationAndRefusedOnesNeverRun) {
    const AudioObjectID a = server.createObject(simclass::device);
    const AudioObjectID b = server.createObject(simclass::device);
    for (AudioObjectID dev : {a, b}) server.setValue<float>(dev, sel::virtualMainVolume, scope::output, 1.0f);
    std::vector<AudioObjectID> heard;
    auto listen = [&](AudioObjectID dev) {
        return std::make_unique<HALListener>(server, dev, PropertyAddress{sel::virtualMainVolume, scope::output, 0},
                                             [&heard, dev](uint32_t count, const PropertyAddress* addresses) {
                                                 ASSERT_EQ(count, 1u);
                                                 EXPECT_EQ(addresses[0].selector, sel::virtualMainVolume);
                                                 heard.push_back(dev);
                                             });
    };
    auto listener = listen(a);
    auto other = listen(a); // a second registration on the same address is independent
    other.reset();
    listener = listen(b);
    EXPECT_EQ(server.listenerCount(a, sel::virtualMainVolume), 0u);
    EXPECT_EQ(server.listenerCount(b, sel::virtualMainVolume), 1u);
    server.setValue<float>(a, sel::virtualMainVolume, scope::output, 0.5f);
    server.setValue<float>(b, sel::virtualMainVolume, scope::output, 0.5f);
    queue.runUntilIdle();
    EXPECT_EQ(heard, std::vector<AudioObjectID>{b});

    HALListener refused(server, 999, PropertyAddress{sel::virtualMainVolume, scope::output, 0},
                        [&](uint32_t, const PropertyAddress*) { heard.push_back(999); });
    EXPECT_FALSE(refused.isRegistered());
    EXPECT_TRUE(listener->isRegistered());
}
