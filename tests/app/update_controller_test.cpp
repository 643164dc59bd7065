#include "app/update_controller.h"

#include "app/app_activation_state.h"
#include "app/process_state.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/updater.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace orevant {
namespace {

// Stands in for the update framework: keeps its switches where the framework keeps them and
// records what the controller asks of it.
class FakeUpdater final : public Updater {
public:
    explicit FakeUpdater(DefaultsStore& defaults) : defaults_(defaults) {}
    void setDelegate(std::weak_ptr<UpdaterDelegate> d) override { delegate = std::move(d); }
    void start() override {
        ++starts;
        if (failStart) throw std::runtime_error("feed unreachable");
    }
    void checkForUpdates() override { ++checks; }
    bool automaticallyChecksForUpdates() const override { return autoChecks; }
    void setAutomaticallyChecksForUpdates(bool on) override { autoChecks = on; }
    bool automaticallyDownloadsUpdates() const override {
        return defaults_.boolean("SUAutomaticallyUpdate").value_or(false);
    }
    void setAutomaticallyDownloadsUpdates(bool on) override { defaults_.set("SUAutomaticallyUpdate", on); }

    DefaultsStore& defaults_;
    std::weak_ptr<UpdaterDelegate> delegate;
    int starts = 0;
    int checks = 0;
    bool autoChecks = false;
    bool failStart = false;
};

class UpdateControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setRelaunchingForUpdate(false);
        speakers =
            system.addDevice(test::deviceSpec("builtin-speakers", 2, 48000.0, 0, transport::builtIn, "Speakers"));
        headphones = system.addDevice(test::deviceSpec("usb-headphones", 2, 48000.0, 0, transport::usb, "Headphones"));
        system.setDefaultOutput(speakers);
        queue.runUntilIdle();
    }
    void TearDown() override { setRelaunchingForUpdate(false); }

    std::shared_ptr<UpdateController> make() {
        updater = std::make_shared<FakeUpdater>(defaults);
        auto c = UpdateController::create(queue, server, defaults, activation, updater);
        c->setOnChange([this] { ++changes; });
        return c;
    }
    void setRunning(AudioObjectID device, bool running, bool notify = true) {
        server.setValue<uint32_t>(device, sel::deviceIsRunningSomewhere, scope::global, running ? 1u : 0u, notify);
    }
    // Stages an update through the updater's own callback, as the framework would.
    void stageThroughUpdater(const std::string& version) {
        auto delegate = updater->delegate.lock();
        ASSERT_TRUE(delegate);
        EXPECT_TRUE(delegate->willInstallUpdateOnQuit(version, [this] { ++installs; }));
        queue.runUntilIdle();
    }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    InMemoryDefaultsStore defaults;
    AppActivationState activation;
    std::shared_ptr<FakeUpdater> updater;
    AudioObjectID speakers = 0;
    AudioObjectID headphones = 0;
    int installs = 0;
    int changes = 0;
};

TEST_F(UpdateControllerTest, FirstLaunchSwitchesAutomaticDownloadsOnAndLaterLaunchesKeepTheUsersChoice) {
    auto first = make();
    EXPECT_EQ(updater->starts, 1);
    EXPECT_TRUE(updater->autoChecks);
    EXPECT_TRUE(first->automaticallyDownloadsUpdates());

    first->setAutomaticallyDownloadsUpdates(false);
    first.reset();
    auto second = make();
    EXPECT_TRUE(updater->autoChecks);
    EXPECT_FALSE(second->automaticallyDownloadsUpdates());
}

TEST_F(UpdateControllerTest, AStartErrorIsDroppedAndTheControllerStillWorks) {
    updater = std::make_shared<FakeUpdater>(defaults);
    updater->failStart = true;
    auto controller = UpdateController::create(queue, server, defaults, activation, updater);
    EXPECT_EQ(updater->starts, 1);
    controller->checkForUpdates();
    EXPECT_EQ(updater->checks, 1);
}

TEST_F(UpdateControllerTest, FoundAndNotFoundUpdatesSetTheAvailableVersionAndLog) {
    ScopedLogCapture log;
    auto controller = make();
    auto delegate = updater->delegate.lock();
    ASSERT_TRUE(delegate);
    EXPECT_TRUE(delegate->supportsGentleScheduledUpdateReminders());
    EXPECT_FALSE(delegate->shouldHandleShowingScheduledUpdate(true));

    delegate->didFindValidUpdate("2.0");
    EXPECT_FALSE(controller->availableVersion()) << "callbacks are handed to the main queue";
    queue.runUntilIdle();
    EXPECT_EQ(controller->availableVersion(), "2.0");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(log->count("update available: 2.0"), 1u);

    delegate->willHandleShowingUpdate("2.0");
    queue.runUntilIdle();
    EXPECT_EQ(changes, 1) << "the same version again notifies nobody";

    delegate->didNotFindUpdate("");
    queue.runUntilIdle();
    EXPECT_FALSE(controller->availableVersion());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(log->count("up to date"), 1u);

    delegate->didAbortWithError("signature mismatch");
    queue.runUntilIdle();
    EXPECT_EQ(log->count("update cycle failed: signature mismatch", LogLevel::error), 1u);
    EXPECT_FALSE(controller->availableVersion());
    EXPECT_FALSE(controller->stagedVersion());
}

TEST_F(UpdateControllerTest, CallbacksFromAnotherThreadAfterTheControllerIsGoneAreIgnored) {
    auto controller = make();
    auto delegate = updater->delegate.lock();
    std::thread([&] {
        delegate->didFindValidUpdate("3.1");
        delegate->willInstallUpdateOnQuit("3.1", [this] { ++installs; });
    }).join();
    controller.reset();
    queue.runUntilIdle();
    EXPECT_EQ(installs, 0);
    EXPECT_FALSE(isRelaunchingForUpdate());
}

TEST_F(UpdateControllerTest, StagedInAQuietMomentInstallsAtOnce) {
    ScopedLogCapture log;
    auto controller = make();
    stageThroughUpdater("2.1");
    EXPECT_EQ(log->count("update staged: 2.1"), 1u);
    EXPECT_EQ(controller->stagedVersion(), "2.1");
    EXPECT_EQ(installs, 1);
    EXPECT_TRUE(isRelaunchingForUpdate());
    EXPECT_FALSE(controller->areWatchersArmed());
}

TEST_F(UpdateControllerTest, StagedWhilePlayingWaitsAndInstallsOnTheRunningListener) {
    setRunning(speakers, true);
    queue.runUntilIdle();
    auto controller = make();
    stageThroughUpdater("2.1");
    EXPECT_EQ(installs, 0);
    EXPECT_TRUE(controller->areWatchersArmed());
    EXPECT_EQ(controller->watchedRunningDevice(), speakers);
    EXPECT_EQ(server.listenerCount(speakers, sel::deviceIsRunningSomewhere), 1u);

    queue.advance(5);
    EXPECT_EQ(installs, 0);
    setRunning(speakers, false);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 1);
    EXPECT_TRUE(isRelaunchingForUpdate());
    EXPECT_FALSE(controller->areWatchersArmed());
    EXPECT_EQ(server.listenerCount(speakers, sel::deviceIsRunningSomewhere), 0u);
    EXPECT_EQ(server.listenerCount(kAudioObjectSystemObject, sel::defaultOutputDevice), 0u);
    queue.advance(60);
    EXPECT_EQ(installs, 1) << "the retry ends with the install";
}

TEST_F(UpdateControllerTest, StagedWhilePlayingInstallsAtTheFifteenSecondRetryWhenNoListenerFires) {
    setRunning(speakers, true);
    queue.runUntilIdle();
    auto controller = make();
    stageThroughUpdater("2.1");
    queue.advance(14.9);
    EXPECT_EQ(installs, 0);
    queue.advance(0.1);
    EXPECT_EQ(installs, 0) << "still playing at the first retry";
    EXPECT_TRUE(controller->isRetryRunning());

    setRunning(speakers, false, /*notify=*/false);
    queue.advance(14.9);
    EXPECT_EQ(installs, 0);
    queue.advance(0.1);
    EXPECT_EQ(installs, 1);
    EXPECT_FALSE(controller->isRetryRunning());
}

TEST_F(UpdateControllerTest, StagedWhileFrontmostInstallsWhenTheAgentResignsActiveUnlessSoundPlays) {
    activation.setActive(true);
    auto controller = make();
    stageThroughUpdater("2.2");
    EXPECT_EQ(installs, 0);
    EXPECT_EQ(activation.observerCount(), 1u);

    setRunning(speakers, true);
    queue.runUntilIdle();
    activation.setActive(false);
    EXPECT_EQ(installs, 0) << "resigning while sound plays is no quiet moment";

    activation.setActive(true);
    setRunning(speakers, false);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 0) << "silence while frontmost is no quiet moment either";
    activation.setActive(false);
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(activation.observerCount(), 0u);
}

TEST_F(UpdateControllerTest, ChoosingTheUpdateItemInstallsAStagedUpdateEvenWhilePlaying) {
    setRunning(speakers, true);
    activation.setActive(true);
    queue.runUntilIdle();
    auto controller = make();
    controller->checkForUpdates();
    EXPECT_EQ(updater->checks, 1) << "nothing staged: the updater checks";

    stageThroughUpdater("2.3");
    EXPECT_EQ(installs, 0);
    controller->checkForUpdates();
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(updater->checks, 1);
    EXPECT_FALSE(controller->areWatchersArmed());

    controller->checkForUpdates();
    EXPECT_EQ(installs, 1) << "a relaunch under way is never started twice";
}

TEST_F(UpdateControllerTest, ADefaultDeviceChangeMovesTheRunningWatchAndInstallsWhenTheNewDeviceIsQuiet) {
    setRunning(speakers, true);
    setRunning(headphones, true);
    queue.runUntilIdle();
    auto controller = make();
    stageThroughUpdater("2.4");

    system.setDefaultOutput(headphones);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 0);
    EXPECT_EQ(controller->watchedRunningDevice(), headphones);
    EXPECT_EQ(server.listenerCount(speakers, sel::deviceIsRunningSomewhere), 0u);
    EXPECT_EQ(server.listenerCount(headphones, sel::deviceIsRunningSomewhere), 1u);

    setRunning(speakers, false);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 0) << "the old device no longer matters";
    setRunning(headphones, false);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 1);
}

TEST_F(UpdateControllerTest, SwitchingToAQuietDefaultDeviceInstalls) {
    setRunning(speakers, true);
    queue.runUntilIdle();
    auto controller = make();
    stageThroughUpdater("2.5");
    system.setDefaultOutput(headphones);
    queue.runUntilIdle();
    EXPECT_EQ(installs, 1);
}

TEST_F(UpdateControllerTest, AnUnreadableRunningStateNeverHoldsAnUpdateBack) {
    setRunning(speakers, true);
    queue.runUntilIdle();
    server.injectFailure(speakers, sel::deviceIsRunningSomewhere, status::unspecified);
    auto controller = make();
    stageThroughUpdater("2.6");
    EXPECT_EQ(installs, 1);
}

TEST_F(UpdateControllerTest, AnUnreadableDefaultDeviceCountsAsQuiet) {
    setRunning(speakers, true);
    queue.runUntilIdle();
    server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                         SimAudioServer::opGet);
    auto controller = make();
    stageThroughUpdater("2.7");
    EXPECT_EQ(installs, 1);
}

TEST_F(UpdateControllerTest, NothingInstallsWhileARelaunchIsAlreadyUnderWay) {
    auto controller = make();
    setRelaunchingForUpdate(true);
    int handlerCalls = 0;
    controller->stage("2.8", [&] { ++handlerCalls; });
    EXPECT_FALSE(controller->tryToInstall());
    EXPECT_EQ(handlerCalls, 0);
}

} // namespace
} // namespace orevant
