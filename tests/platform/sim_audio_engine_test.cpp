#include "platform/sim/sim_audio_engine.h"

#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace orevant {
namespace {

constexpr size_t kSecond = 48000;

class SimAudioEngineTest : public ::testing::Test {
protected:
    SimAudioEngineTest() {
        speakers = system.addDevice(test::deviceSpec("spk"));
        usb = system.addDevice(test::deviceSpec("usb", 4, 48000.0, 1));
        system.setDefaultOutput(speakers);
    }
    SimAudioEngine& audio() { return server.audio(); }
    AudioObjectID sine(float amplitude, bool playing = true, double frequency = 1000.0) {
        return system.addProcess(
            test::processSpec(nextPid++, playing, test::sourceSpec(SimAudioSource::Kind::sine, amplitude, frequency)));
    }
    AudioObjectID aggregateOver(const std::vector<std::string>& devices, const std::string& tapUID) {
        AggregateDescription d;
        d.name = "agg";
        d.uid = "AGG-" + std::to_string(nextPid++);
        d.master = d.clock = devices.front();
        for (size_t i = 0; i < devices.size(); ++i) d.subdevices.push_back({devices[i], i > 0});
        if (!tapUID.empty()) d.taps.push_back({tapUID, true});
        AudioObjectID id = 0;
        EXPECT_EQ(audio().createAggregateDevice(d, id), 0);
        return id;
    }
    AudioObjectID tapOf(std::vector<AudioObjectID> processes, int muteBehavior, const std::string& uid) {
        TapDescription t{std::move(processes), uid, muteBehavior, true, "tap"};
        AudioObjectID id = 0;
        EXPECT_EQ(audio().createProcessTap(t, id), 0);
        return id;
    }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    AudioObjectID speakers = 0, usb = 0;
    int32_t nextPid = 100;
};

TEST_F(SimAudioEngineTest, SourcesPlayOnTheDefaultOutput) {
    const AudioObjectID p = sine(0.5f, true, 1000.0);
    audio().runCycles(94); // about one second
    const auto left = audio().outputSamples(speakers, 0, kSecond);
    ASSERT_EQ(left.size(), kSecond);
    int rising = 0;
    for (size_t i = 1; i < left.size(); ++i) rising += left[i - 1] < 0 && left[i] >= 0;
    EXPECT_NEAR(rising, 1000, 1);
    EXPECT_NEAR(audio().outputPeak(speakers, 1, kSecond), 0.5f, 1e-4f);
    EXPECT_NEAR(audio().outputRMS(speakers, 0, kSecond), 0.5f / std::sqrt(2.0f), 1e-3f);
    EXPECT_EQ(audio().outputPeak(usb, 0), 0.0f); // other devices run silent
    EXPECT_EQ(audio().outputFrameCount(usb), audio().outputFrameCount(speakers));

    // Stopping playback ("piro" 0) silences it; a new default output takes over.
    system.setPlaying(p, false);
    audio().runCycles(2);
    EXPECT_EQ(audio().outputPeak(speakers, 0, 1024), 0.0f);
    system.setPlaying(p, true);
    system.setDefaultOutput(usb);
    audio().runCycles(2);
    EXPECT_NEAR(audio().outputPeak(usb, 0, 1024), 0.5f, 1e-3f);
    EXPECT_EQ(audio().outputPeak(usb, 2, 1024), 0.0f);
    EXPECT_EQ(audio().outputPeak(speakers, 0, 1024), 0.0f);
}

TEST_F(SimAudioEngineTest, NoiseMonoAndMonoDevices) {
    const AudioObjectID monoDev = system.addDevice(test::deviceSpec("m", 1));
    system.setDefaultOutput(monoDev);
    system.addProcess(test::processSpec(1, true, test::sourceSpec(SimAudioSource::Kind::noise, 0.3f, 0.0, 1)));
    audio().runCycles(20);
    const auto s = audio().outputSamples(monoDev, 0);
    ASSERT_EQ(s.size(), 20u * 512);
    EXPECT_LE(audio().outputPeak(monoDev, 0), 0.3f);
    EXPECT_NEAR(audio().outputRMS(monoDev, 0), 0.3f / std::sqrt(3.0f), 0.01f); // uniform noise
}

TEST_F(SimAudioEngineTest, WavSourceLoops) {
    test::TempDir dir;
    const std::string path = (dir / "ramp.wav").string();
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> frames;
    for (int i = 0; i < 100; ++i) frames.insert(frames.end(), {i / 100.0f, -i / 100.0f});
    sf_writef_float(f, frames.data(), 100);
    sf_close(f);

    system.addProcess(test::processSpec(1, true, test::sourceSpec(SimAudioSource::Kind::wav, 0, 0, 2, path)));
    audio().runCycles(1);
    const auto l = audio().outputSamples(speakers, 0);
    const auto r = audio().outputSamples(speakers, 1);
    EXPECT_FLOAT_EQ(l[37], 0.37f);
    EXPECT_FLOAT_EQ(r[37], -0.37f);
    EXPECT_FLOAT_EQ(l[237], 0.37f); // looped
    EXPECT_FLOAT_EQ(l[511], 0.11f);

    // An unreadable file plays silence; so does a FIFO (fault: it blocked the caller for ever).
    ASSERT_EQ(::mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
    for (const char* name : {"none.wav", "fifo.wav"})
        system.addProcess(
            test::processSpec(2, true, test::sourceSpec(SimAudioSource::Kind::wav, 0, 0, 2, (dir / name).string())));
    audio().runCycles(1);
    EXPECT_FLOAT_EQ(audio().outputSamples(speakers, 0, 512)[37], 0.49f); // frame 549 of the loop, nothing added
}

// Muting while read (behaviour 2) is part of the audio-server contract; here also the always-muted
// tap (behaviour 1), whose process is silent though nothing reads it.
TEST_F(SimAudioEngineTest, AggregateIOBuffersAndOutput) {
    const AudioObjectID a = sine(0.5f);
    tapOf({a}, 2, "TAP-X");
    tapOf({sine(0.5f)}, 1, "TAP-MUTED");
    const AudioObjectID agg = aggregateOver({"usb", "spk"}, "TAP-X");

    // Liveness, transport and membership are part of the audio-server contract.
    EXPECT_EQ(server.value<double>(agg, sel::nominalSampleRate, scope::global), 48000.0);
    EXPECT_EQ(server.stringList(agg, sel::aggregateFullSubDeviceList, scope::global),
              (std::vector<std::string>{"usb", "spk", "TAP-X"}));

    struct Seen {
        std::vector<std::pair<uint32_t, uint32_t>> in, out; // channels, bytes
        float tapFirst = 0;
        std::thread::id thread;
        int calls = 0;
    };
    auto seen = std::make_shared<Seen>();
    IOProcID proc = 0;
    ASSERT_EQ(audio().createIOProc(
                  agg,
                  [seen](const AudioBufferList& in, AudioBufferList& out) {
                      seen->in.clear();
                      seen->out.clear();
                      for (uint32_t i = 0; i < in.numberBuffers; ++i)
                          seen->in.push_back({in.buffers[i].numberChannels, in.buffers[i].dataByteSize});
                      for (uint32_t i = 0; i < out.numberBuffers; ++i) {
                          seen->out.push_back({out.buffers[i].numberChannels, out.buffers[i].dataByteSize});
                          auto* d = static_cast<float*>(out.buffers[i].data);
                          for (uint32_t s = 0; s < out.buffers[i].dataByteSize / 4; ++s)
                              d[s] = 0.25f * static_cast<float>(i + 1);
                      }
                      const auto* tap = static_cast<const float*>(in.buffers[in.numberBuffers - 1].data);
                      float peak = 0;
                      for (uint32_t s = 0; s < 1024; ++s) peak = std::max(peak, std::fabs(tap[s]));
                      seen->tapFirst = peak;
                      seen->thread = std::this_thread::get_id();
                      ++seen->calls;
                  },
                  proc),
              0);
    audio().runCycles(1);
    EXPECT_EQ(seen->calls, 0); // not started
    ASSERT_EQ(audio().startDevice(agg, proc), 0);
    audio().runCycles(3);
    EXPECT_EQ(seen->calls, 3);
    EXPECT_NE(seen->thread, std::this_thread::get_id()); // on the aggregate's own IO thread
    // Input: the USB device's mono input, then the tap's stereo stream.
    EXPECT_EQ(seen->in, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2048}, {2, 4096}}));
    EXPECT_NEAR(seen->tapFirst, 0.5f, 1e-3f);
    // Output: one buffer per sub-device with its channel count.
    EXPECT_EQ(seen->out, (std::vector<std::pair<uint32_t, uint32_t>>{{4, 8192}, {2, 4096}}));
    EXPECT_FLOAT_EQ(audio().outputPeak(usb, 3, 512), 0.25f);
    EXPECT_FLOAT_EQ(audio().outputPeak(speakers, 0, 512), 0.5f); // the IO output alone: both apps are muted
    EXPECT_TRUE(audio().isDeviceRunning(agg));

    // A destroyed procedure is never called again (a stopped one: the audio-server contract).
    ASSERT_EQ(audio().stopDevice(agg, proc), 0);
    ASSERT_EQ(audio().destroyIOProc(agg, proc), 0);
    audio().runCycles(2);
    EXPECT_EQ(seen->calls, 3);
    EXPECT_EQ(audio().ioProcCount(agg), 0u);
    EXPECT_NE(audio().stopDevice(agg, proc), 0); // unknown procedure
}

TEST_F(SimAudioEngineTest, DestroysAggregatesItDidNotCreate) {
    const AudioObjectID leftover = server.createObject(simclass::aggregate);
    server.appendID(kAudioObjectSystemObject, sel::deviceList, scope::global, leftover);
    EXPECT_EQ(audio().destroyAggregateDevice(leftover), 0);
    EXPECT_FALSE(server.exists(leftover));
    const auto devices = server.ids(kAudioObjectSystemObject, sel::deviceList, scope::global);
    EXPECT_EQ(std::find(devices.begin(), devices.end(), leftover), devices.end());
    EXPECT_NE(audio().destroyAggregateDevice(speakers), 0); // not an aggregate
    EXPECT_TRUE(server.exists(speakers));
    EXPECT_NE(audio().destroyAggregateDevice(leftover), 0); // already gone
}

TEST_F(SimAudioEngineTest, InjectedFailures) {
    audio().injectFailure(SimAudioEngine::Call::createAggregateDevice, status::permissionDenied, 2);
    AggregateDescription d;
    d.uid = "A";
    d.subdevices.push_back({"spk", false});
    AudioObjectID id = 0;
    for (OSStatus expected : {status::permissionDenied, status::permissionDenied, status::noErr})
        EXPECT_EQ(audio().createAggregateDevice(d, id), expected);
    EXPECT_EQ(audio().callCount(SimAudioEngine::Call::createAggregateDevice), 3u);

    audio().injectFailure(SimAudioEngine::Call::startDevice, status::unspecified);
    IOProcID proc = 0;
    ASSERT_EQ(audio().createIOProc(
                  id, [](const AudioBufferList&, AudioBufferList&) {}, proc),
              0);
    EXPECT_EQ(audio().startDevice(id, proc), status::unspecified);
    EXPECT_EQ(audio().startDevice(id, proc), status::unspecified);
    audio().clearFailures();
    EXPECT_EQ(audio().startDevice(id, proc), 0);
}

TEST_F(SimAudioEngineTest, RealTimeClockRunsCyclesUntilStopped) {
    const AudioObjectID agg = aggregateOver({"spk"}, "");
    std::atomic<int> calls{0};
    IOProcID proc = 0;
    ASSERT_EQ(audio().createIOProc(
                  agg, [&](const AudioBufferList&, AudioBufferList&) { ++calls; }, proc),
              0);
    ASSERT_EQ(audio().startDevice(agg, proc), 0);
    audio().startClock();
    EXPECT_TRUE(audio().isClockRunning());
    while (calls.load() < 3) std::this_thread::yield();
    audio().stopDevice(agg, proc);
    const int atStop = calls.load();
    const uint64_t cycles = audio().cycleCount();
    while (audio().cycleCount() < cycles + 2) std::this_thread::yield();
    audio().stopClock();
    EXPECT_FALSE(audio().isClockRunning());
    EXPECT_EQ(calls.load(), atStop); // nothing after stopDevice returned
}

} // namespace
} // namespace orevant
