#pragma once
// The audio-server seam's contract, one typed test suite run against every server: the
// simulated one (audio_server_contract_sim_test.cpp) and PipeWire
// (tests/pipewire/audio_server_contract_pipewire_test.cpp).
//
// A World gives the suite one server with two output devices, "stereo" (2 channels, the
// default output) and "quad" (4 channels), and lets it:
//   server()                      the AudioServer under test
//   stereoUID / quadUID           the two devices' UIDs
//   startApp(bundleID) -> pid     an application process playing a stereo sine of RMS 0.3536
//                                 (peak 0.5) on the default output
//   addDevice() / removeDevice()  a third (stereo) output device, plugged and unplugged
//   level(uid, channel)           the RMS heard on a device channel lately
//   waitFor(done, seconds)        lets audio and the main queue run until done() holds
#include "audio/hal.h"
#include "platform/audio_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace orevant::test {

template <typename World>
class AudioServerContract : public ::testing::Test {
protected:
    static constexpr float kToneRMS = 0.353553f;

    HAL hal() { return HAL(world.server()); }

    AudioObjectID deviceWithUID(const std::string& uid) {
        for (AudioObjectID d : hal().readIDs(kAudioObjectSystemObject, sel::deviceList)) {
            try {
                if (hal().readString(d, sel::deviceUID) == uid) return d;
            } catch (const HALError&) {}
        }
        return 0;
    }

    AudioObjectID processOf(int32_t pid) {
        AudioObjectID found = 0;
        world.waitFor(
            [&] {
                for (AudioObjectID p : hal().readIDs(kAudioObjectSystemObject, sel::processObjectList)) {
                    try {
                        if (hal().template read<int32_t>(p, sel::processPID) == pid) found = p;
                    } catch (const HALError&) {}
                }
                return found != 0;
            },
            5.0);
        return found;
    }

    // Registers a listener that counts its calls; returns its ID.
    ListenerID countCalls(AudioObjectID object, const PropertyAddress& address, std::atomic<int>& calls) {
        ListenerID id = 0;
        EXPECT_EQ(world.server().addPropertyListener(
                      object, address, [&calls](uint32_t, const PropertyAddress*) { ++calls; }, id),
                  0);
        return id;
    }

    // A muted-when-tapped private tap of `process` and the aggregate `agg` reading it.
    std::pair<AudioObjectID, AudioObjectID> tapAndAggregate(AudioObjectID process, const std::string& tapUUID,
                                                            AggregateDescription agg) {
        const TapDescription tap{{process}, tapUUID, 2, true, "OREVANT tap #" + std::to_string(process)};
        std::pair<AudioObjectID, AudioObjectID> ids{0, 0};
        EXPECT_EQ(world.server().createProcessTap(tap, ids.first), 0);
        agg.name = "OREVANT aggregate #" + std::to_string(process);
        agg.taps = {{tapUUID, true}};
        EXPECT_EQ(world.server().createAggregateDevice(agg, ids.second), 0);
        return ids;
    }

    bool near(float value, float expected, float relative) {
        return std::fabs(value - expected) <= expected * relative;
    }

    World world;
};

TYPED_TEST_SUITE_P(AudioServerContract);

TYPED_TEST_P(AudioServerContract, ShowsDevicesTheDefaultAndStableProcessObjects) {
    auto& w = this->world;
    const AudioObjectID stereo = this->deviceWithUID(w.stereoUID);
    const AudioObjectID quad = this->deviceWithUID(w.quadUID);
    ASSERT_NE(stereo, 0u);
    ASSERT_NE(quad, 0u);
    for (auto [device, channels] : {std::pair{stereo, 2u}, std::pair{quad, 4u}}) {
        uint32_t config[2] = {};
        uint32_t size = sizeof config;
        ASSERT_EQ(w.server().getPropertyData(device, {sel::streamConfiguration, scope::output, 0}, size, config), 0);
        EXPECT_EQ(config[0], 1u);
        EXPECT_EQ(config[1], channels);
        EXPECT_FALSE(this->hal().readString(device, sel::name).empty());
        EXPECT_EQ(this->hal().template read<uint32_t>(device, sel::deviceIsAlive), 1u);
        EXPECT_GT(this->hal().template read<double>(device, sel::nominalSampleRate), 0.0);
    }
    EXPECT_EQ(this->hal().template read<AudioObjectID>(kAudioObjectSystemObject, sel::defaultOutputDevice), stereo);

    const int32_t pid = w.startApp("org.example.Contract");
    const AudioObjectID process = this->processOf(pid);
    ASSERT_NE(process, 0u);
    // The bundle ID is known once the server has heard it from the process (with its stream).
    EXPECT_TRUE(w.waitFor(
        [&] {
            std::string bundle;
            w.server().getPropertyString(process, {sel::processBundleID, scope::global, 0}, bundle);
            return bundle == "org.example.Contract";
        },
        5.0));
    ASSERT_TRUE(
        w.waitFor([&] { return this->hal().template read<uint32_t>(process, sel::processIsRunningOutput) == 1; }, 5.0));
    // The same object for as long as the process is there; no ID names two objects.
    w.waitFor([] { return false; }, 0.3);
    EXPECT_EQ(this->processOf(pid), process);
    EXPECT_NE(process, stereo);
    EXPECT_NE(process, quad);
}

TYPED_TEST_P(AudioServerContract, WritesAreReadableAtOnceAndCallListeners) {
    auto& w = this->world;
    const AudioObjectID quad = this->deviceWithUID(w.quadUID);
    const AudioObjectID stereo = this->deviceWithUID(w.stereoUID);
    ASSERT_TRUE(this->hal().isSettable(quad, sel::virtualMainVolume, scope::output));
    std::atomic<int> calls{0};
    const ListenerID id = this->countCalls(quad, {sel::virtualMainVolume, scope::output, 0}, calls);
    this->hal().write(quad, sel::virtualMainVolume, scope::output, 0.5f);
    EXPECT_NEAR(this->hal().template read<float>(quad, sel::virtualMainVolume, scope::output), 0.5f, 1e-4f);
    this->hal().write(quad, sel::mute, scope::output, 1u);
    EXPECT_EQ(this->hal().template read<uint32_t>(quad, sel::mute, scope::output), 1u);
    this->hal().write(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global, quad);
    EXPECT_EQ(this->hal().template read<AudioObjectID>(kAudioObjectSystemObject, sel::defaultOutputDevice), quad);
    EXPECT_TRUE(w.waitFor([&] { return calls > 0; }, 2.0));
    // Still what was written once the server has settled.
    w.waitFor([] { return false; }, 0.3);
    EXPECT_NEAR(this->hal().template read<float>(quad, sel::virtualMainVolume, scope::output), 0.5f, 1e-4f);
    EXPECT_EQ(this->hal().template read<AudioObjectID>(kAudioObjectSystemObject, sel::defaultOutputDevice), quad);

    this->hal().write(quad, sel::virtualMainVolume, scope::output, 1.0f);
    this->hal().write(quad, sel::mute, scope::output, 0u);
    this->hal().write(kAudioObjectSystemObject, sel::defaultOutputDevice, scope::global, stereo);
    EXPECT_EQ(w.server().removePropertyListener(quad, {sel::virtualMainVolume, scope::output, 0}, id), 0);
    w.waitFor([] { return false; }, 0.3);
}

// What the IO procedure saw, and a gain it applies.
struct IOProbe {
    std::atomic<int> cycles{0};
    std::atomic<bool> badShape{false};
    std::atomic<uint32_t> maxFrames{0};
    IOProcBlock block(float gain) {
        return [this, gain](const AudioBufferList& in, AudioBufferList& out) {
            ++cycles;
            if (in.numberBuffers == 0 || in.buffers[in.numberBuffers - 1].numberChannels != 2) {
                badShape = true;
                return;
            }
            const AudioBuffer& tap = in.buffers[in.numberBuffers - 1];
            const uint32_t frames = tap.dataByteSize / 8;
            maxFrames = std::max(maxFrames.load(), frames);
            if (frames > kMaxIOFrames) badShape = true;
            const auto* src = static_cast<const float*>(tap.data);
            for (uint32_t b = 0; b < out.numberBuffers; ++b) {
                AudioBuffer& o = out.buffers[b];
                const uint32_t ch = std::max<uint32_t>(o.numberChannels, 1);
                if (o.dataByteSize / 4 / ch != frames) badShape = true;
                auto* dst = static_cast<float*>(o.data);
                for (uint32_t f = 0; f < o.dataByteSize / 4 / ch && f < frames; ++f)
                    for (uint32_t c = 0; c < ch; ++c) dst[f * ch + c] = c < 2 ? gain * src[2 * f + c] : 0.0f;
            }
        };
    }
};

TYPED_TEST_P(AudioServerContract, ATappedApplicationIsHeardOnlyThroughItsIOProcedure) {
    auto& w = this->world;
    const int32_t pid = w.startApp("org.example.Tapped");
    const AudioObjectID process = this->processOf(pid);
    ASSERT_NE(process, 0u);
    ASSERT_TRUE(w.waitFor([&] { return this->near(w.level(w.stereoUID, 0), this->kToneRMS, 0.02f); }, 5.0));

    AggregateDescription agg;
    agg.uid = "6B0D3E2F-1A2B-4C5D-9E8F-0A1B2C3D4E5F";
    agg.master = agg.clock = w.quadUID;
    agg.subdevices = {{w.quadUID, false}};
    const auto [tapID, aggID] = this->tapAndAggregate(process, "3F1C8A52-9D4B-4E1A-8C77-0B5E2D6A9F10", agg);
    ASSERT_NE(aggID, 0u);
    EXPECT_EQ(this->hal().template read<uint32_t>(aggID, sel::deviceIsAlive), 1u);
    EXPECT_EQ(this->hal().template read<uint32_t>(aggID, sel::transportType), transport::aggregate);
    const auto members = this->hal().readStringList(aggID, sel::aggregateFullSubDeviceList);
    EXPECT_NE(std::find(members.begin(), members.end(), w.quadUID), members.end());

    IOProbe probe;
    IOProcID proc = 0;
    ASSERT_EQ(w.server().createIOProc(aggID, probe.block(0.5f), proc), 0);
    // Not started yet: the application still plays on its own.
    w.waitFor([] { return false; }, 0.2);
    EXPECT_TRUE(this->near(w.level(w.stereoUID, 0), this->kToneRMS, 0.02f));

    ASSERT_EQ(w.server().startDevice(aggID, proc), 0);
    EXPECT_TRUE(w.waitFor(
        [&] {
            return this->near(w.level(w.quadUID, 0), this->kToneRMS * 0.5f, 0.02f) && w.level(w.stereoUID, 0) < 1e-4f;
        },
        5.0))
        << "quad " << w.level(w.quadUID, 0) << " stereo " << w.level(w.stereoUID, 0);
    EXPECT_TRUE(this->near(w.level(w.quadUID, 1), this->kToneRMS * 0.5f, 0.02f));
    EXPECT_LT(w.level(w.quadUID, 2), 1e-4f);
    EXPECT_FALSE(probe.badShape);
    EXPECT_LE(probe.maxFrames.load(), kMaxIOFrames);

    // Running IO is not destroyed under the server's feet.
    EXPECT_EQ(w.server().destroyIOProc(aggID, proc), status::illegalOperation);
    EXPECT_EQ(w.server().destroyAggregateDevice(aggID), status::illegalOperation);

    ASSERT_EQ(w.server().stopDevice(aggID, proc), 0);
    const int after = probe.cycles;
    EXPECT_TRUE(w.waitFor([&] { return this->near(w.level(w.stereoUID, 0), this->kToneRMS, 0.02f); }, 5.0));
    EXPECT_EQ(probe.cycles, after); // never called once stopDevice returned
    EXPECT_EQ(w.server().destroyIOProc(aggID, proc), 0);
    EXPECT_EQ(w.server().destroyAggregateDevice(aggID), 0);
    EXPECT_EQ(w.server().destroyProcessTap(tapID), 0);
    EXPECT_EQ(this->deviceWithUID(agg.uid), 0u);
}

TYPED_TEST_P(AudioServerContract, AnAggregateThatLosesADeviceStopsBeingAlive) {
    auto& w = this->world;
    const int32_t pid = w.startApp("org.example.Unplugged");
    const AudioObjectID process = this->processOf(pid);
    ASSERT_NE(process, 0u);
    const std::string extra = w.addDevice();
    ASSERT_TRUE(w.waitFor([&] { return this->deviceWithUID(extra) != 0; }, 5.0));

    AggregateDescription agg;
    agg.uid = "9A8B7C6D-5E4F-4A3B-8C2D-1E0F9A8B7C6D";
    agg.subdevices = {{w.stereoUID, false}, {extra, true}};
    agg.stacked = true;
    const auto [tapID, aggID] = this->tapAndAggregate(process, "0C9E1F3A-5B7D-4E2C-A1B3-D5F7091A2B3C", agg);
    ASSERT_NE(aggID, 0u);
    std::atomic<int> calls{0};
    const ListenerID id = this->countCalls(aggID, {sel::deviceIsAlive, scope::global, 0}, calls);
    EXPECT_EQ(this->hal().template read<uint32_t>(aggID, sel::deviceIsAlive), 1u);

    w.removeDevice(extra);
    EXPECT_TRUE(w.waitFor([&] { return calls > 0; }, 5.0));
    EXPECT_EQ(this->hal().template read<uint32_t>(aggID, sel::deviceIsAlive), 0u);
    EXPECT_EQ(w.server().removePropertyListener(aggID, {sel::deviceIsAlive, scope::global, 0}, id), 0);
    EXPECT_EQ(w.server().destroyAggregateDevice(aggID), 0);
    EXPECT_EQ(w.server().destroyProcessTap(tapID), 0);
}

REGISTER_TYPED_TEST_SUITE_P(AudioServerContract, ShowsDevicesTheDefaultAndStableProcessObjects,
                            WritesAreReadableAtOnceAndCallListeners, ATappedApplicationIsHeardOnlyThroughItsIOProcedure,
                            AnAggregateThatLosesADeviceStopsBeingAlive);

} // namespace orevant::test
