#include "app/orevant_app.h"

#include "app/app_activation_state.h"
#include "app/live_view.h"
#include "app/process_state.h"
#include "app/signal_watcher.h"
#include "audio/audio_process_monitor.h"
#include "engine/mixer_engine.h"
#include "engine/recording_indicator.h"
#include "platform/linux/autostart_entry.h"
#include "platform/linux/linux_updater.h"
#include "recording/mix_recorder.h"
#include "recording/recording_test_support.h"
#include "remote/pairing_pin.h"
#include "support/engine_fixture.h"
#include "support/recording_presenter.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include <csignal>
#include <pthread.h>

namespace orevant {
namespace {

class OREVANTAppTest : public ::testing::Test {
protected:
    std::optional<test::ScopedEnv> homeEnv, musicEnv;
    OREVANTAppTest() {
        setRelaunchingForUpdate(false);
        homeEnv.emplace("HOME", home.path().c_str());
        musicEnv.emplace("XDG_MUSIC_DIR", (home.path() / "Music").c_str());
        speakers = world.addOutputDevice("speakers", "Speakers");
        music = world.addApp("com.example.music", "Music", 440.0, 0.5f);
        browser = world.addApp("com.example.browser", "Browser", 660.0, 0.5f);
    }
    ~OREVANTAppTest() override {
        app.reset();
        setRelaunchingForUpdate(false);
    }

    OREVANTApp& make() {
        const Services services{
            .mainQueue = world.queue,
            .audioServer = world.server,
            .defaults = world.defaults,
            .workspace = world.workspace,
            .bluetooth = world.bluetooth,
            .hostClock = world.queue.hostClock(),
            .oscPort = 0,
            .recorder = &recorder,
            .blockingWait =
                [this](double seconds) {
                    blockingWaits.push_back(seconds);
                    // The main thread is blocked; audio keeps running.
                    world.server.audio().runCycles(
                        static_cast<size_t>(std::ceil(seconds / test::EngineFixture::kCycleSeconds)));
                },
        };
        OREVANTApp::Shell shell{
            .activation = activation,
            .loginItem = loginItem,
            .updater = std::make_shared<LinuxUpdater>(world.defaults, world.queue, LinuxUpdater::Settings{}),
            .permissionPresenter = presenter,
            .appInfo = {"1.0", "1"},
            .menuHooks = {},
            .onStarted = [this] { ++started; },
        };
        app = std::make_unique<OREVANTApp>(services, std::move(shell));
        return *app;
    }
    // The application as the agent's engine lists it.
    AudioApp listed(const test::SimApp& simApp) const {
        for (const AudioApp& a : app->engine().processMonitor().apps()) {
            if (a.bundleID == simApp.bundleID) return a;
        }
        ADD_FAILURE() << simApp.bundleID << " is not listed";
        return {};
    }
    // Launches and lets the start-up finish.
    OREVANTApp& launched() {
        make().launch();
        app->waitForWakeUpRead();
        world.settle();
        return *app;
    }

    test::TempDir home;
    test::EngineFixture world;
    AppActivationState activation;
    AutostartEntry loginItem{home / "autostart" / "orevant.desktop", "/usr/bin/orevant"};
    MixRecorder recorder{world.queue, world.queue.hostClock(),
                         [this](const std::string&) { return std::make_unique<test::SharedQueueRef>(world.queue); }};
    std::shared_ptr<test::RecordingPresenter> presenter = std::make_shared<test::RecordingPresenter>();
    std::unique_ptr<OREVANTApp> app;
    std::vector<double> blockingWaits;
    int started = 0;
    AudioObjectID speakers = 0;
    test::SimApp music;
    test::SimApp browser;
};

TEST_F(OREVANTAppTest, StartUpWiresEverythingFirstAndStartsTheEngineAfterTheWakeUpReadOnTheMainQueue) {
    const auto readsBefore = world.server.getCallCount(kAudioObjectSystemObject, sel::defaultOutputDevice);
    make().launch();
    EXPECT_EQ(MixerEngine::current(), &app->engine());
    EXPECT_TRUE(app->statusMenu().hasMonitor());
    EXPECT_TRUE(app->appDelegate().didFinishLaunching());

    app->waitForWakeUpRead();
    EXPECT_GT(world.server.getCallCount(kAudioObjectSystemObject, sel::defaultOutputDevice), readsBefore);
    EXPECT_FALSE(app->engine().isStarted()) << "start() runs on the main queue, not on the wake-up thread";
    EXPECT_EQ(started, 0);
    world.queue.runUntilIdle();
    EXPECT_TRUE(app->engine().isStarted());
    EXPECT_EQ(started, 1);
    EXPECT_EQ(presenter->shows, 0) << "nothing asks for capture permission here";
    EXPECT_NE(app->statusMenu().diagnosticsReport().find("\nMAIN device: Speakers — 2 ch"), std::string::npos)
        << "the status menu reaches this engine";
}

TEST_F(OREVANTAppTest, AFailedWakeUpReadIsDroppedAndStartUpContinues) {
    world.server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                               SimAudioServer::opGet);
    make().launch();
    app->waitForWakeUpRead();
    world.server.clearFailure(kAudioObjectSystemObject, sel::defaultOutputDevice);
    world.settle();
    EXPECT_TRUE(app->engine().isStarted());
}

TEST_F(OREVANTAppTest, TerminatingDuringAnUpdateRelaunchLeavesTheEngineAlone) {
    launched();
    app->engine().setVolume(0.5f, listed(music));
    world.runAudio(0.1);
    setRelaunchingForUpdate(true);
    app->terminate();
    EXPECT_TRUE(blockingWaits.empty());
    EXPECT_EQ(app->engine().taps().size(), 1u);
}

// SIGTERM, read from the watcher's descriptor as in the agent, ends the take (its files closed
// and playable) before the engine shuts down and releases every tap.
TEST_F(OREVANTAppTest, SIGTERMDuringATakeClosesTheTakeThenShutsTheEngineDown) {
    // SIGTERM blocked for this test only, whichever way it ends, so the next test's disposition is as it was.
    struct BlockedTermination {
        sigset_t previous;
        BlockedTermination() {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGTERM);
            pthread_sigmask(SIG_BLOCK, &set, &previous);
        }
        ~BlockedTermination() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    } blocked;
    int terminations = 0;
    SignalWatcher watcher([&](int signal) {
        EXPECT_EQ(signal, SIGTERM);
        world.queue.post([&] {
            app->terminate();
            ++terminations;
        });
    });
    ASSERT_TRUE(watcher.isValid());

    launched();
    MixerEngine& engine = app->engine();
    engine.setVolume(0.5f, listed(music));
    engine.startRecording();
    world.runAudio(0.5);
    ASSERT_TRUE(engine.recordingURL());
    const std::filesystem::path take = *engine.recordingURL();
    EXPECT_TRUE(app->recordingIndicator()->isShown());

    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_EQ(watcher.dispatchPending(), 1u);
    world.queue.runUntilIdle();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(engine.isRecording());
    EXPECT_FALSE(recorder.isTakeOpen());
    EXPECT_FALSE(app->recordingIndicator()->isShown());
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(take)) {
        if (entry.path().extension() != ".wav") continue;
        ++files;
        const auto sizes = test::readWavSizes(entry.path());
        ASSERT_TRUE(sizes);
        EXPECT_EQ(sizes->riffBytes + 8, std::filesystem::file_size(entry.path())) << "header complete";
    }
    EXPECT_GE(files, 1u);
    EXPECT_EQ(blockingWaits, std::vector<double>{0.15}) << "attenuated taps ramp to unity before they stop";
    EXPECT_TRUE(engine.taps().empty());
    EXPECT_TRUE(world.server.audio().liveTaps().empty());

    EXPECT_EQ(watcher.dispatchPending(), 0u);
}

TEST_F(OREVANTAppTest, TheLiveViewShowsApplicationsBusesAndRecording) {
    launched();
    MixerEngine& engine = app->engine();
    engine.setVolume(0.5f, listed(music));
    engine.toggleMute(listed(browser));
    world.runAudio(0.3);

    const LiveViewModel model = LiveViewModel::from(engine);
    ASSERT_EQ(model.apps.size(), 2u);
    const bool musicFirst = model.apps[0].bundleID == "com.example.music";
    const auto& first = model.apps[musicFirst ? 0 : 1];
    EXPECT_FLOAT_EQ(first.volume, 0.5f);
    EXPECT_TRUE(first.isTapped);
    EXPECT_GT(first.meter, 0.0f);
    EXPECT_TRUE(model.apps[musicFirst ? 1 : 0].isMuted);
    const std::string view = LiveView::render(model, 120);
    for (const std::string& text : {std::string("Music"), std::string("50%"), std::string("Speakers"),
                                    std::string("PHONES  (unavailable on this device)"), std::string("REC ○ off"),
                                    "PIN " + engine.pairingPIN().pin()}) {
        EXPECT_NE(view.find(text), std::string::npos) << text;
    }
}

TEST(LiveViewTest, LinesFitTheTerminalAndBarsFollowTheLevel) {
    EXPECT_EQ(LiveView::bar(0.0f, 4), "░░░░");
    EXPECT_EQ(LiveView::bar(0.5f, 4), "██░░");
    EXPECT_EQ(LiveView::bar(2.0f, 4), "████");
    EXPECT_EQ(LiveView::bar(std::nanf(""), 4), "░░░░");

    LiveViewModel model;
    LiveViewModel::App app;
    app.name = std::string(200, 'x');
    app.outputs = {"Studio Interface 8x8", "Travel Headset"};
    model.apps.push_back(app);
    model.isRecording = true;
    model.recordingFolder = "/home/u/Music/OREVANT/2026-12-06 23.00.00";
    const std::string view = LiveView::render(model, 80);
    std::istringstream lines(view);
    for (std::string line; std::getline(lines, line);) {
        size_t cols = 0; // characters, not bytes
        for (const unsigned char c : line) cols += (c & 0xC0) != 0x80;
        EXPECT_LE(cols, 80u) << line;
    }
    EXPECT_NE(view.find("REC ● recording → /home/u/Music/OREVANT"), std::string::npos);
    const std::string frame = LiveView::terminalFrame("a\nb");
    EXPECT_EQ(frame, "\x1b[Ha\x1b[K\nb\x1b[K\n\x1b[J");
}

} // namespace
} // namespace orevant
