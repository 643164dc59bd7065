#include "capture/process_tap.h"

#include "audio/hal_error.h"
#include "capture/render_mix.h"
#include "capture_fixture.h"
#include "platform/capture_log_sink.h"

#include <gtest/gtest.h>

#include <regex>

namespace orevant {
namespace {

using test::SimFixture;

// Forwards to the simulated server and records the tap, aggregate and IO calls in order.
class RecordingServer final : public AudioServer {
public:
    explicit RecordingServer(AudioServer& inner) : inner_(inner) {}
    std::vector<std::string> calls;

    OSStatus getPropertyDataSize(AudioObjectID o, const PropertyAddress& a, uint32_t& s) override {
        return inner_.getPropertyDataSize(o, a, s);
    }
    OSStatus getPropertyData(AudioObjectID o, const PropertyAddress& a, uint32_t& s, void* d) override {
        return inner_.getPropertyData(o, a, s, d);
    }
    OSStatus setPropertyData(AudioObjectID o, const PropertyAddress& a, uint32_t s, const void* d) override {
        return inner_.setPropertyData(o, a, s, d);
    }
    OSStatus isPropertySettable(AudioObjectID o, const PropertyAddress& a, bool& s) override {
        return inner_.isPropertySettable(o, a, s);
    }
    OSStatus getPropertyString(AudioObjectID o, const PropertyAddress& a, std::string& out) override {
        return inner_.getPropertyString(o, a, out);
    }
    OSStatus getPropertyStringList(AudioObjectID o, const PropertyAddress& a, std::vector<std::string>& out) override {
        return inner_.getPropertyStringList(o, a, out);
    }
    OSStatus addPropertyListener(AudioObjectID o, const PropertyAddress& a, PropertyListenerBlock b,
                                 ListenerID& id) override {
        return inner_.addPropertyListener(o, a, std::move(b), id);
    }
    OSStatus removePropertyListener(AudioObjectID o, const PropertyAddress& a, ListenerID id) override {
        return inner_.removePropertyListener(o, a, id);
    }
    OSStatus createProcessTap(const TapDescription& d, AudioObjectID& out) override {
        calls.push_back("createProcessTap");
        return inner_.createProcessTap(d, out);
    }
    OSStatus destroyProcessTap(AudioObjectID t) override {
        calls.push_back("destroyProcessTap");
        return inner_.destroyProcessTap(t);
    }
    OSStatus createAggregateDevice(const AggregateDescription& d, AudioObjectID& out) override {
        calls.push_back("createAggregateDevice");
        return inner_.createAggregateDevice(d, out);
    }
    OSStatus destroyAggregateDevice(AudioObjectID d) override {
        calls.push_back("destroyAggregateDevice");
        return inner_.destroyAggregateDevice(d);
    }
    OSStatus createIOProc(AudioObjectID d, IOProcBlock b, IOProcID& id) override {
        calls.push_back("createIOProc");
        return inner_.createIOProc(d, std::move(b), id);
    }
    OSStatus destroyIOProc(AudioObjectID d, IOProcID id) override {
        calls.push_back("destroyIOProc");
        return inner_.destroyIOProc(d, id);
    }
    OSStatus startDevice(AudioObjectID d, IOProcID id) override {
        calls.push_back("startDevice");
        return inner_.startDevice(d, id);
    }
    OSStatus stopDevice(AudioObjectID d, IOProcID id) override {
        calls.push_back("stopDevice");
        return inner_.stopDevice(d, id);
    }

private:
    AudioServer& inner_;
};

class ProcessTapTest : public SimFixture {
protected:
    ProcessTap::Output out(AudioObjectID id) { return {*server.string(id, sel::deviceUID, scope::global), id}; }
};

bool isUpperUUID(const std::string& s) {
    return std::regex_match(s, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}"));
}

TEST_F(ProcessTapTest, StartWithoutOutputsCreatesNothingAndALaterStartWorks) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({});
    EXPECT_EQ(tap.aggregateID(), 0u);
    EXPECT_EQ(tap.tapID(), 0u);
    EXPECT_TRUE(audio().liveTaps().empty());
    EXPECT_FALSE(tap.isAggregateAlive());

    tap.start({out(speakers)});
    EXPECT_NE(tap.aggregateID(), 0u);
    EXPECT_NE(tap.tapID(), 0u);
    ASSERT_TRUE(tap.procID().has_value());
    EXPECT_TRUE(audio().isDeviceRunning(tap.aggregateID()));
    EXPECT_TRUE(tap.isAggregateAlive());
    EXPECT_EQ(tap.activatedOutputs(), std::vector<ProcessTap::Output>{out(speakers)});
}

TEST_F(ProcessTapTest, StartOnARunningTapChangesNothing) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    const AudioObjectID agg = tap.aggregateID();
    tap.start({out(interface8), out(headset)}, ProcessTap::ChannelPairing{0, 2, 2});
    EXPECT_EQ(tap.aggregateID(), agg);
    EXPECT_EQ(tap.activatedOutputs().size(), 1u);
    EXPECT_FALSE(tap.pairedBuses());
    EXPECT_EQ(audio().liveAggregates().size(), 1u);
    EXPECT_EQ(audio().liveTaps().size(), 1u);
}

TEST_F(ProcessTapTest, DescriptionsForOneOutput) {
    const AudioObjectID second = system.addProcess(test::processSpec(502, true));
    ProcessTap tap(server, {process, second}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});

    auto td = audio().tapDescription(tap.tapID());
    ASSERT_TRUE(td);
    EXPECT_EQ(td->processes, (std::vector<AudioObjectID>{process, second}));
    EXPECT_EQ(td->muteBehavior, 2);
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
    EXPECT_TRUE(ad->isPrivate);
    EXPECT_TRUE(ad->tapAutoStart);
    ASSERT_EQ(ad->subdevices.size(), 1u);
    EXPECT_EQ(ad->subdevices[0].uid, "speakers");
    EXPECT_FALSE(ad->subdevices[0].drift);
    ASSERT_EQ(ad->taps.size(), 1u);
    EXPECT_EQ(ad->taps[0].uid, td->uuid);
    EXPECT_TRUE(ad->taps[0].drift);
    EXPECT_FALSE(ad->stacked.has_value());

    // The aggregate is a device of the server while it lives.
    const auto devices = server.ids(kAudioObjectSystemObject, sel::deviceList, scope::global);
    EXPECT_NE(std::find(devices.begin(), devices.end(), tap.aggregateID()), devices.end());
    EXPECT_EQ(server.string(tap.aggregateID(), sel::deviceUID, scope::global), ad->uid);
}

TEST_F(ProcessTapTest, TwoOutputsAreStackedAndNeverPaired) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(interface8), out(headset)}, ProcessTap::ChannelPairing{4, 6, 2});
    EXPECT_FALSE(tap.pairedBuses());
    EXPECT_EQ(tap.mainOffset(), 0); // pairing ignored
    EXPECT_EQ(tap.phonesOffset(), 2);
    auto ad = audio().aggregateDescription(tap.aggregateID());
    ASSERT_TRUE(ad);
    ASSERT_TRUE(ad->stacked.has_value());
    EXPECT_TRUE(*ad->stacked);
    ASSERT_EQ(ad->subdevices.size(), 2u);
    EXPECT_FALSE(ad->subdevices[0].drift);
    EXPECT_TRUE(ad->subdevices[1].drift);
    EXPECT_EQ(ad->master, "iface");
}

TEST_F(ProcessTapTest, PairingWithOneOutputIsCopied) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(interface8)}, ProcessTap::ChannelPairing{4, 6, 2});
    EXPECT_TRUE(tap.pairedBuses());
    EXPECT_EQ(tap.mainOffset(), 4);
    EXPECT_EQ(tap.phonesOffset(), 6);
    EXPECT_EQ(tap.pairWidth(), 2);
}

TEST_F(ProcessTapTest, RebuiltTapsUseFreshIdentities) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    const auto firstTap = audio().tapDescription(tap.tapID())->uuid;
    const auto firstAgg = audio().aggregateDescription(tap.aggregateID())->uid;
    tap.stop();
    tap.start({out(speakers)});
    EXPECT_NE(audio().tapDescription(tap.tapID())->uuid, firstTap);
    EXPECT_NE(audio().aggregateDescription(tap.aggregateID())->uid, firstAgg);
}

TEST_F(ProcessTapTest, RampCoefficientFollowsTheAggregateRate) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    EXPECT_EQ(tap.rampCoefficient(), 0.0f);
    tap.start({out(speakers)});
    EXPECT_NEAR(tap.rampCoefficient(), 0.000694f, 5e-7f);

    const AudioObjectID slow = system.addDevice(test::deviceSpec("slow", 2, 44100.0));
    ProcessTap at44(server, {process}, 1.0f, false, 1.0f);
    at44.start({out(slow)});
    EXPECT_EQ(at44.rampCoefficient(), rampCoefficient(44100.0));

    // A rate that cannot be read gives the 48 kHz coefficient.
    const AudioObjectID noRate = system.addDevice(test::deviceSpec("norate", 2, 96000.0));
    server.removeProperty(noRate, sel::nominalSampleRate, scope::global);
    ProcessTap fallback(server, {process}, 1.0f, false, 1.0f);
    fallback.start({out(noRate)});
    EXPECT_EQ(fallback.rampCoefficient(), rampCoefficient(48000.0));
}

TEST_F(ProcessTapTest, StreamFormatCheck) {
    ScopedLogCapture logs;
    const char* line = "Aggregate stream is not Float32 PCM; gain disabled, passing through";
    {
        ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
        tap.start({out(speakers)});
        EXPECT_TRUE(tap.isFloat32());
        EXPECT_EQ(logs->count(line), 0u);
    }
    const AudioObjectID int16 = system.addDevice(test::deviceSpec("int16"));
    auto fmt = *server.value<AudioStreamBasicDescription>(int16, sel::streamFormat, scope::output);
    fmt.formatFlags = 0;
    fmt.bitsPerChannel = 16;
    server.setValue(int16, sel::streamFormat, scope::output, fmt);
    {
        ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
        tap.start({out(int16)});
        EXPECT_FALSE(tap.isFloat32());
        EXPECT_EQ(logs->count(line, LogLevel::error), 1u);
        EXPECT_TRUE(audio().isDeviceRunning(tap.aggregateID())); // not a failure of start
    }
    // An unreadable format keeps the float assumption, silently.
    const AudioObjectID unknown = system.addDevice(test::deviceSpec("nofmt"));
    server.removeProperty(unknown, sel::streamFormat, scope::output);
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(unknown)});
    EXPECT_TRUE(tap.isFloat32());
    EXPECT_EQ(logs->count(line), 1u);
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
            EXPECT_EQ(e.status(), status::permissionDenied);
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

TEST_F(ProcessTapTest, TeardownOrderAndRepeatedStop) {
    RecordingServer recorder(server);
    {
        ProcessTap tap(recorder, {process}, 1.0f, false, 1.0f);
        tap.start({out(speakers)});
        recorder.calls.clear();
        tap.stop();
        EXPECT_EQ(recorder.calls, (std::vector<std::string>{"stopDevice", "destroyIOProc", "destroyAggregateDevice",
                                                            "destroyProcessTap"}));
        EXPECT_EQ(tap.aggregateID(), 0u);
        EXPECT_EQ(tap.tapID(), 0u);
        EXPECT_FALSE(tap.procID().has_value());
        EXPECT_TRUE(audio().liveAggregates().empty());
        EXPECT_TRUE(audio().liveTaps().empty());
        const auto devices = server.ids(kAudioObjectSystemObject, sel::deviceList, scope::global);
        EXPECT_EQ(devices.size(), 4u); // the aggregate left the device list

        recorder.calls.clear();
        tap.stop();
        EXPECT_TRUE(recorder.calls.empty());
    } // destroying a stopped tap calls nothing
    EXPECT_TRUE(recorder.calls.empty());

    {
        ProcessTap tap(recorder, {process}, 1.0f, false, 1.0f);
        tap.start({out(speakers)});
        recorder.calls.clear();
    } // destruction tears down like stop
    EXPECT_EQ(recorder.calls.size(), 4u);
    EXPECT_TRUE(audio().liveTaps().empty());
}

TEST_F(ProcessTapTest, InitialGainsAndSetters) {
    ProcessTap muted(server, {process}, 0.8f, true, 0.5f);
    EXPECT_EQ(muted.currentGain(), 0.0f);
    EXPECT_FLOAT_EQ(muted.currentCueGain(), 0.125f);

    ProcessTap tap(server, {process}, 0.5f, false, 1.0f);
    EXPECT_FLOAT_EQ(tap.currentGain(), 0.125f);
    tap.setVolume(1.4f);
    EXPECT_EQ(tap.volume(), 1.0f);
    tap.setCueVolume(-1.0f);
    EXPECT_EQ(tap.cueVolume(), 0.0f);
    tap.setPhonesBusGain(0.25f);
    EXPECT_EQ(tap.phonesBusGain(), 0.25f);
}

TEST_F(ProcessTapTest, AnyProcessPlaying) {
    const AudioObjectID quiet = system.addProcess(test::processSpec(600, false));
    ProcessTap tap(server, {quiet, process}, 1.0f, false, 1.0f);
    EXPECT_TRUE(tap.isAnyProcessPlaying());
    system.setPlaying(process, false);
    EXPECT_FALSE(tap.isAnyProcessPlaying());
    system.setPlaying(process, true);
    server.injectFailure(process, sel::processIsRunningOutput, status::unspecified);
    EXPECT_FALSE(tap.isAnyProcessPlaying()); // the failing read is passed over
    system.setPlaying(quiet, true);
    EXPECT_TRUE(tap.isAnyProcessPlaying());
}

TEST_F(ProcessTapTest, AggregateAliveness) {
    ProcessTap tap(server, {process}, 1.0f, false, 1.0f);
    tap.start({out(headset)});
    EXPECT_TRUE(tap.isAggregateAlive());
    server.injectFailure(tap.aggregateID(), sel::deviceIsAlive, status::unspecified);
    EXPECT_FALSE(tap.isAggregateAlive());
    server.clearAllFailures();
    system.removeDevice(headset); // its clock device is gone
    EXPECT_FALSE(tap.isAggregateAlive());
}

TEST_F(ProcessTapTest, LogsWhenActive) {
    ScopedLogCapture logs;
    const AudioObjectID second = system.addProcess(test::processSpec(502, true));
    ProcessTap tap(server, {process, second}, 1.0f, false, 1.0f);
    tap.start({out(speakers)});
    const std::string want = "Tap active for processes [" + std::to_string(process) + "," + std::to_string(second) +
                             "]: tap " + std::to_string(tap.tapID()) + ", aggregate " +
                             std::to_string(tap.aggregateID());
    const auto records = logs->records();
    ASSERT_EQ(logs->count(want, LogLevel::info), 1u);
    for (const auto& r : records) {
        if (r.message == want) {
            EXPECT_EQ(r.category, "ProcessTap");
        }
    }
}

} // namespace
} // namespace orevant
