// The engine on the private PipeWire, with pw-play (a native client) and paplay (a PulseAudio
// client through pipewire-pulse) playing a 1 kHz tone of RMS 0.353553 as applications, heard at
// the sinks' monitors.
#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/system_volume_controller.h"
#include "engine/mixer_engine.h"
#include "platform/defaults_store.h"
#include "platform/host_clock.h"
#include "platform/linux/linux_workspace.h"
#include "platform/manual_main_queue.h"
#include "platform/pipewire/pipewire_audio_server.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/thread_task_queue.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "support/temp_dir.h"

#include "support/pipewire_stack.h"
#include <sndfile.h>

#include <gtest/gtest.h>

#include <cmath>

namespace orevant::test {
namespace {

constexpr float kToneRMS = 0.353553f;

struct PipeWireEngineWorld {
    PipeWireEngineWorld() {
        defaults.set(RecordingFolder::kBookmarkKey, takes.path().string());
        LinuxWorkspace::Paths paths = LinuxWorkspace::defaultPaths();
        workspace = std::make_unique<LinuxWorkspace>(
            "com.brenlake.orevant", [this](int32_t pid) { return declared(pid); }, paths);
        MixerEngine::Services services{
            .mainQueue = queue,
            .audioServer = server,
            .defaults = defaults,
            .workspace = *workspace,
            .bluetooth = bluetooth,
            .hostClock = queue.hostClock(),
            .midiSystem = nullptr,
            .advertiser = nullptr,
            .oscPort = 0,
            .recorder = &recorder,
            .blockingWait = [this](double seconds) { pumpFor(queue, seconds); },
        };
        engine = std::make_unique<MixerEngine>(std::move(services));
        engine->start();
    }
    ~PipeWireEngineWorld() {
        engine->shutdown();
        engine.reset();
    }

    std::optional<std::string> declared(int32_t pid) {
        for (const auto& [p, id] : ids)
            if (p == pid) return id;
        return std::nullopt;
    }

    Player& play(Player::Kind kind, const std::string& bundleID) {
        players.push_back(std::make_unique<Player>(kind, bundleID, tone.path()));
        ids.emplace_back(players.back()->pid(), bundleID);
        return *players.back();
    }

    // The application as the engine lists it, once it plays.
    std::optional<AudioApp> app(const std::string& bundleID) {
        std::optional<AudioApp> found;
        pumpUntil(
            queue,
            [&] {
                for (const AudioApp& a : engine->processMonitor().apps())
                    if (a.bundleID == bundleID && a.isPlaying) found = a;
                return found.has_value();
            },
            5.0);
        return found;
    }

    // The playing application, tapped at volume 0.5 and heard at 0.125 on the default sink.
    std::optional<AudioApp> tapAtHalf(const std::string& bundleID) {
        auto found = app(bundleID);
        if (!found) return std::nullopt;
        engine->setVolume(0.5f, *found);
        if (!settlesAt(stereo, 0, kToneRMS * 0.125f, 0.001f)) return std::nullopt;
        return found;
    }

    const AudioDevice* device(const std::string& uid) {
        const AudioDevice* found = nullptr;
        pumpUntil(
            queue, [&] { return (found = engine->deviceMonitor().device(uid)) != nullptr; }, 5.0);
        return found;
    }

    bool settlesAt(Capture& capture, int channel, float expected, float relative, double seconds = 5.0) {
        return pumpUntil(
            queue, [&] { return std::fabs(capture.rms(channel, 0.2) - expected) <= expected * relative + 1e-6f; },
            seconds);
    }

    ManualMainQueue queue;
    PipeWireAudioServer server{queue};
    std::unique_ptr<LinuxWorkspace> workspace;
    SimBluetooth bluetooth{queue};
    InMemoryDefaultsStore defaults;
    TempDir takes;
    MonotonicHostClock hostClock;
    MixRecorder recorder{queue, hostClock,
                         [](const std::string& label) { return std::make_unique<ThreadTaskQueue>(label); }};
    std::unique_ptr<MixerEngine> engine;
    Capture stereo{"ci_stereo", 2};
    Capture quad{"ci_quad", 4};
    Capture eight{"ci_8ch", 8};
    ToneFile tone;
    std::vector<std::pair<int32_t, std::string>> ids;
    std::vector<std::unique_ptr<Player>> players;
};

class EngineOnPipeWireTest : public ::testing::TestWithParam<Player::Kind> {};

TEST_P(EngineOnPipeWireTest, VolumeAndRoutingOfARealApplication) {
    PipeWireEngineWorld w;
    const std::string bundle = GetParam() == Player::Kind::native ? "org.example.Native" : "org.example.Pulse";
    w.play(GetParam(), bundle);
    auto app = w.app(bundle);
    ASSERT_TRUE(app);
    ASSERT_TRUE(w.settlesAt(w.stereo, 0, kToneRMS, 0.01f));

    // Volume 0.5 is a gain of 0.125, exactly, and only the tapped path is heard.
    w.engine->setVolume(0.5f, *app);
    EXPECT_TRUE(w.settlesAt(w.stereo, 0, kToneRMS * 0.125f, 0.001f)) << w.stereo.rms(0, 0.2);
    EXPECT_TRUE(w.settlesAt(w.stereo, 1, kToneRMS * 0.125f, 0.001f)) << w.stereo.rms(1, 0.2);

    // Routed to two devices at once: heard on both, nothing left on its old device.
    const AudioDevice* quad = w.device("ci_quad");
    const AudioDevice* eight = w.device("ci_8ch");
    ASSERT_TRUE(quad && eight);
    w.engine->addOutput(*quad, *app);
    w.engine->addOutput(*eight, *app);
    EXPECT_TRUE(w.settlesAt(w.quad, 0, kToneRMS, 0.01f)) << w.quad.rms(0, 0.2);
    EXPECT_TRUE(w.settlesAt(w.eight, 0, kToneRMS, 0.01f)) << w.eight.rms(0, 0.2);
    EXPECT_TRUE(w.settlesAt(w.stereo, 0, 0.0f, 0.0f)) << w.stereo.rms(0, 0.2);

    // Back to the default: the application plays on its own again, at full level.
    w.engine->resetApp(*app);
    EXPECT_TRUE(w.settlesAt(w.stereo, 0, kToneRMS, 0.01f)) << w.stereo.rms(0, 0.2);
    EXPECT_TRUE(w.settlesAt(w.quad, 0, 0.0f, 0.0f));
}

TEST(EngineOnPipeWireBusesTest, MainAndCueOnTheirOwnChannelPairsThenPanicSilencesWithinAQuarterSecond) {
    PipeWireEngineWorld w;
    const AudioDevice* quad = w.device("ci_quad");
    ASSERT_TRUE(quad);
    w.engine->deviceMonitor().setDefault(*quad);
    w.play(Player::Kind::native, "org.example.Cued");
    auto app = w.app("org.example.Cued");
    ASSERT_TRUE(app);
    ASSERT_TRUE(pumpUntil(
        w.queue, [&] { return w.engine->isPaired(); }, 5.0));
    w.engine->setVolume(0.5f, *app);
    w.engine->setCue(true, app->bundleID);
    w.engine->setCueVolume(0.8f, app->bundleID);
    // MAIN on channels 1/2 at 0.5³, the pre-fade cue on 3/4 at 0.8³.
    for (int ch = 0; ch < 4; ++ch)
        EXPECT_TRUE(w.settlesAt(w.quad, ch, kToneRMS * (ch < 2 ? 0.125f : 0.512f), ch < 2 ? 0.001f : 0.01f))
            << ch << ": " << w.quad.rms(ch, 0.2);

    // Panic: every channel at least 40 dB down within 250 ms of the switch.
    const float before = w.quad.rms(2, 0.2);
    const size_t mark = w.quad.frames();
    w.engine->setPanicked(true);
    pumpFor(w.queue, 0.5);
    const size_t frames = w.quad.frames();
    ASSERT_GT(frames, mark + 12000 + 4800);
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_LT(w.quad.peak(channel, (frames - mark - 12000) / 48000.0), before * std::sqrt(2.0f) * 0.01f) << channel;
    w.engine->setPanicked(false);
    const AudioDevice* stereo = w.device("ci_stereo");
    w.engine->deviceMonitor().setDefault(*stereo);
}

TEST(EngineOnPipeWireStreamsTest, ASecondStreamOpenedMidTapLeaksNothing) {
    PipeWireEngineWorld w;
    w.players.push_back(std::make_unique<Player>(
        std::vector<std::string>{OREVANT_TONE_PLAYER, "--app-id", "org.example.TwoStreams", "--second-after", "1.5"}));
    w.ids.emplace_back(w.players.back()->pid(), "org.example.TwoStreams");
    ASSERT_TRUE(w.tapAtHalf("org.example.TwoStreams")) << w.stereo.rms(0, 0.2);
    const size_t mark = w.stereo.frames();
    // Both sines at 0.125: RMS 0.0625 through the tap; a stream heard on its own would add 0.35.
    EXPECT_TRUE(w.settlesAt(w.stereo, 0, 0.5f * 0.125f, 0.01f, 5.0)) << w.stereo.rms(0, 0.2);
    // Never more than the two tapped sines together.
    EXPECT_LE(w.stereo.peak(0, (w.stereo.frames() - mark) / 48000.0), 0.125f * 1.02f);
}

TEST(EngineOnPipeWireRecordingTest, ATakeRecordsTheApplicationsToneAtItsLevel) {
    PipeWireEngineWorld w;
    w.play(Player::Kind::native, "org.example.Recorded");
    auto app = w.tapAtHalf("org.example.Recorded");
    ASSERT_TRUE(app);
    w.engine->startRecording();
    ASSERT_TRUE(w.engine->isRecording());
    pumpFor(w.queue, 1.5);
    w.engine->stopRecording();
    ASSERT_TRUE(pumpUntil(
        w.queue, [&] { return !w.recorder.isTakeOpen(); }, 5.0));
    const auto& lane = w.recorder.lanes().at(app->bundleID);
    ASSERT_TRUE(lane->url().has_value());
    SF_INFO info{};
    SNDFILE* file = sf_open(lane->url()->c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    // The last second of the take: the application's MAIN signal, at its gain.
    const auto channels = static_cast<size_t>(info.channels);
    const size_t frames = samples.size() / channels;
    ASSERT_GT(frames, 48000u);
    double sum = 0;
    for (size_t f = frames - 48000; f < frames; ++f)
        sum += static_cast<double>(samples[f * channels]) * samples[f * channels];
    EXPECT_NEAR(std::sqrt(sum / 48000), kToneRMS * 0.125f, kToneRMS * 0.125f * 0.01f);
}

TEST(EngineOnPipeWireRestartTest, TheEngineComesBackAfterTheAudioStackRestarts) {
    PipeWireEngineWorld w;
    w.play(Player::Kind::native, "org.example.Survivor");
    auto app = w.tapAtHalf("org.example.Survivor");
    ASSERT_TRUE(app);

    // PipeWire and WirePlumber go and come back; the player dies with them and starts again.
    ASSERT_TRUE(stack().restart());
    w.players.clear();
    w.play(Player::Kind::native, "org.example.Survivor");
    Capture stereo("ci_stereo", 2);
    EXPECT_TRUE(w.settlesAt(stereo, 0, kToneRMS * 0.125f, 0.001f, 10.0)) << stereo.rms(0, 0.2);
}

TEST(EngineOnPipeWireDeviceVolumeTest, TheSystemVolumeWrittenThroughTheEngineIsWhatWirePlumberReads) {
    PipeWireEngineWorld w;
    ASSERT_TRUE(w.device("ci_stereo"));
    auto wirePlumberReads = [&](const std::string& level) {
        std::string out;
        const bool seen = pumpUntil(
            w.queue,
            [&] {
                out.clear();
                runCommand("wpctl get-volume @DEFAULT_AUDIO_SINK@", &out);
                return out.find("Volume: " + level) != std::string::npos;
            },
            5.0);
        EXPECT_TRUE(seen) << out;
    };
    w.engine->systemVolume().setVolume(0.5f);
    wirePlumberReads("0.50");
    w.engine->systemVolume().setVolume(1.0f);
    wirePlumberReads("1.00");
}

INSTANTIATE_TEST_SUITE_P(Clients, EngineOnPipeWireTest, ::testing::Values(Player::Kind::native, Player::Kind::pulse),
                         [](const auto& info) { return info.param == Player::Kind::native ? "PwPlay" : "Paplay"; });

} // namespace
} // namespace orevant::test
