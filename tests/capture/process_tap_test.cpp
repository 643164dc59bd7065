#include "capture/process_tap.h"

#include "audio/hal_error.h"
#include "capture/render_mix.h"
#include "capture_fixture.h"
#include "platform/capture_log_sink.h"

#include <gtest/gtest.h>

#include <regex>

namespace orevant {
namespace {

using ProcessTapTest = test::SimFixture;

bool isUpperUUID(const std::string& s) {
    return std::regex_match(s, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
}

// A muted tap starts silent with its cue level ready and its controls clamped; a start without
// outputs creates nothing, and a start on a running tap changes nothing.
TEST_F(ProcessTapTest, MutedTapStartsSilentAndStartMakesOneAggregateOnlyWithOutputs) {
    ProcessTap tap(server, {process}, 0.8f, true, 0.5f);
    EXPECT_EQ(tap.currentGain(), 0.0f);
    EXPECT_FLOAT_EQ(tap.currentCueGain(), 0.125f);
    tap.setPhonesBusGain(1.5f);
    tap.setCueVolume(-1.0f);
    EXPECT_EQ(tap.phonesBusGain(), 1.0f);
    EXPECT_EQ(tap.cueVolume(), 0.0f);
    tap.start({});
    EXPECT_EQ(tap.aggregateID(), 0u);
    EXPECT_TRUE(audio().liveTaps().empty());
    tap.start({out(speakers)});
    const AudioObjectID agg = tap.aggregateID();
    ASSERT_NE(agg, 0u);
    EXPECT_TRUE(audio().isDeviceRunning(agg));
    tap.start({out(interface8), out(headset)}, ProcessTap::ChannelPairing{0, 2, 2});
    EXPECT_EQ(tap.aggregateID(), agg);
    EXPECT_FALSE(tap.pairedBuses());
    EXPECT_EQ(audio().liveAggregates().size(), 1u);
    EXPECT_EQ(audio().liveTaps().size(), 1u);
}

TEST_F(ProcessTapTest, TapAndAggregateDescriptions) {
    const AudioObjectID second = system.addProcess(test::processSpec(502, true));
    ProcessTap tap(server, {process, second}, 1.0f, false, 1.0f);
    tap.start({out(speakers)}, ProcessTap::ChannelPairing{0, 0, 1});
    EXPECT_TRUE(tap.pairedBuses()); // one output keeps its pairing
    auto td = audio().tapDescription(tap.tapID());
    ASSERT_TRUE(td);
    EXPECT_EQ(td->processes, (std::vector<AudioObjectID>{process, second}));
    EXPECT_EQ(td->muteBehavior, 2); // muted when tapped: heard only through the tap
    EXPECT_TRUE(td->isPrivate);
    EXPECT_EQ(td->name, "OREVANT tap #" + std::to_string(process));
    EXPECT_TRUE(isUpperUUID(td->uuid)) << td->uuid;

    auto ad = audio().aggregateDescription(tap.aggregateID());
    ASSERT_TRUE(ad);
    EXPECT_EQ(ad->name, "OREVANT aggregate #" + std::to_string(process));
    EXPECT_TRUE(isUpperUUID(ad->uid)) << ad->uid;
    EXPECT_NE(ad->uid, td->uuid);
    EXPECT_EQ(ad->master, "speakers");
    EXPECT_EQ(ad->clock, "speakers");
    EXPECT_TRUE(ad->isPrivate && ad->tapAutoStart);
    ASSERT_EQ(ad->subdevices.size(), 1u);
    EXPECT_FALSE(ad->subdevices[0].drift);
    ASSERT_EQ(ad->taps.size(), 1u);
    EXPECT_EQ(ad->taps[0].uid, td->uuid);
    EXPECT_TRUE(ad->taps[0].drift);
    EXPECT_FALSE(ad->stacked.has_value());

    // Two outputs: stacked, the second drift-corrected, never paired.
    ProcessTap stacked(server, {process}, 1.0f, false, 1.0f);
    stacked.start({out(interface8), out(headset)}, ProcessTap::ChannelPairing{4, 6, 2});
    EXPECT_FALSE(stacked.pairedBuses());
    ad = audio().aggregateDescription(stacked.aggregateID());
    ASSERT_TRUE(ad && ad->stacked.has_value() && ad->subdevices.size() == 2u);
    EXPECT_TRUE(*ad->stacked);
    EXPECT_FALSE(ad->subdevices[0].drift);
    EXPECT_TRUE(ad->subdevices[1].drift);
    EXPECT_EQ(ad->master, "iface");

    // Rebuilt: fresh identities, never ones the server may still hold.
    const std::string firstTap = td->uuid;
    tap.stop();
    tap.start({out(speakers)});
    EXPECT_NE(audio().tapDescription(tap.tapID())->uuid, firstTap);
}

TEST_F(ProcessTapTest, CreationFailuresThrowNamedErrorsAndLeaveAPartialStateThatStopReleases) {
    struct Step {
        SimAudioEngine::Call call;
        const char* name;
        bool tapMade, aggregateMade, procMade;
    };
    const Step steps[] = {
        {SimAudioEngine::Call::createProcessTap, "create process tap", false, false, false},
        {SimAudioEngine::Call::createAggregateDevice, "create aggregate device", true, false, false},
        {SimAudioEngine::Call::createIOProc, "create IO proc", true, true, false},
        {SimAudioEngine::Call::startDevice, "start aggregate device", true, true, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        audio().injectFailure(step.call, status::permissionDenied, 1);
        ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
        try {
            tap.start({out(speakers)});
            ADD_FAILURE() << "start did not throw";
        } catch (const HALError& e) {
            EXPECT_EQ(e.kind(), HALError::Kind::operation);
            EXPECT_EQ(std::string(e.what()),
                      std::string("Failed to ") + step.name + ": OSStatus " + std::to_string(status::permissionDenied));
        }
        EXPECT_EQ(tap.tapID() != 0, step.tapMade);
        EXPECT_EQ(tap.aggregateID() != 0, step.aggregateMade);
        EXPECT_EQ(tap.procID().has_value(), step.procMade);
        tap.stop();
        EXPECT_TRUE(audio().liveTaps().empty());
        EXPECT_TRUE(audio().liveAggregates().empty());
    }
    // A failure injected for one call only: the next start works.
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    EXPECT_TRUE(audio().isDeviceRunning(tap.aggregateID()));
}

// The simulated server refuses to destroy a running IO procedure or aggregate, so what is left
// alive tells a wrong order; the tap must outlive the aggregate that reads it.
TEST_F(ProcessTapTest, StopAndDestructionTearDownInOrder) {
    std::vector<AudioObjectID> destroyed;
    server.addObserver([&](SimAudioServer::Event event, AudioObjectID object, const PropertyAddress&) {
        if (event == SimAudioServer::Event::destroyed) destroyed.push_back(object);
    });
    for (bool byDestructor : {false, true}) {
        SCOPED_TRACE(byDestructor ? "destructor" : "stop");
        destroyed.clear();
        AudioObjectID agg = 0, tapID = 0;
        {
            ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
            tap.start({out(speakers)});
            agg = tap.aggregateID();
            tapID = tap.tapID();
            if (!byDestructor) {
                tap.stop();
                EXPECT_EQ(tap.aggregateID(), 0u);
                EXPECT_FALSE(tap.procID().has_value());
                tap.stop();
            }
        }
        EXPECT_EQ(destroyed, (std::vector<AudioObjectID>{agg, tapID}));
        EXPECT_TRUE(audio().liveAggregates().empty());
        EXPECT_TRUE(audio().liveTaps().empty());
    }
}

// Catches a failed read taken for "playing" or "alive", and an aggregate thought alive after its
// clock device went.
TEST_F(ProcessTapTest, PlayingAndAliveChecksFailSafe) {
    const AudioObjectID quiet = system.addProcess(test::processSpec(600, false));
    ProcessTap tap(server, {quiet, process}, 1.0f, false, 1.0f);
    EXPECT_TRUE(tap.isAnyProcessPlaying());
    system.setPlaying(process, false);
    EXPECT_FALSE(tap.isAnyProcessPlaying());
    system.setPlaying(process, true);
    server.injectFailure(process, sel::processIsRunningOutput, status::unspecified);
    EXPECT_FALSE(tap.isAnyProcessPlaying());
    system.setPlaying(quiet, true);
    EXPECT_TRUE(tap.isAnyProcessPlaying());

    EXPECT_FALSE(tap.isAggregateAlive());
    tap.start({out(headset)});
    EXPECT_TRUE(tap.isAggregateAlive());
    server.injectFailure(tap.aggregateID(), sel::deviceIsAlive, status::unspecified);
    EXPECT_FALSE(tap.isAggregateAlive());
    server.clearAllFailures();
    system.removeDevice(headset);
    EXPECT_FALSE(tap.isAggregateAlive());
}

// The start reads the aggregate's format (a passthrough switch, not a failure of start) and rate
// (the ramp's coefficient, 48 kHz when unreadable); its log lines are what support reads.
TEST_F(ProcessTapTest, StartReadsTheAggregateFormatAndRateAndSaysWhatItBuilt) {
    ScopedLogCapture logs;
    const std::string notFloat = "Aggregate stream is not Float32 PCM; gain disabled, passing through";
    const AudioObjectID int16 = system.addDevice(test::deviceSpec("int16"));
    auto fmt = *server.value<AudioStreamBasicDescription>(int16, sel::streamFormat, scope::output);
    fmt.formatFlags = 0;
    fmt.bitsPerChannel = 16;
    server.setValue(int16, sel::streamFormat, scope::output, fmt);
    const AudioObjectID unknown = system.addDevice(test::deviceSpec("nofmt"));
    server.removeProperty(unknown, sel::streamFormat, scope::output);
    const AudioObjectID slow = system.addDevice(test::deviceSpec("slow", 2, 44100.0));
    const AudioObjectID noRate = system.addDevice(test::deviceSpec("norate", 2, 96000.0));
    server.removeProperty(noRate, sel::nominalSampleRate, scope::global);
    struct Case {
        AudioObjectID device;
        bool float32;
        double rate;
    };
    const Case cases[] = {{speakers, true, 48000.0},
                          {int16, false, 48000.0},
                          {unknown, true, 48000.0},
                          {slow, true, 44100.0},
                          {noRate, true, 48000.0}};
    const AudioObjectID second = system.addProcess(test::processSpec(700, true));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        logs->clear();
        ProcessTap tap(server, {process, second}, 1.0f, false, 1.0f);
        tap.start({out(c.device)});
        EXPECT_EQ(tap.isFloat32(), c.float32);
        EXPECT_EQ(tap.rampCoefficient(), rampCoefficient(c.rate));
        EXPECT_EQ(logs->count(notFloat, LogLevel::error), c.float32 ? 0u : 1u);
        EXPECT_TRUE(audio().isDeviceRunning(tap.aggregateID()));
        EXPECT_EQ(logs->count("Tap active for processes [" + std::to_string(process) + "," + std::to_string(second) +
                                  "]: tap " + std::to_string(tap.tapID()) + ", aggregate " +
                                  std::to_string(tap.aggregateID()),
                              LogLevel::info),
                  1u);
    }
}

} // namespace
} // namespace orevant
