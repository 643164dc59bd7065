#include "app/update_controller.h"

#include "app/app_activation_state.h"
#include "app/process_state.h"
#include "platform/capture_log_sink.h"
#include "platform/updater.h"
#include "support/engine_fixture.h"

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
        speakers = world.addOutputDevice("builtin-speakers", "Speakers");
        headphones = world.addOutputDevice("usb-headphones", "Headphones", 2, transport::usb);
        world.queue.runUntilIdle();
    }
    void TearDown() override { setRelaunchingForUpdate(false); }

    std::shared_ptr<UpdateController> make() {
        updater = std::make_shared<FakeUpdater>(world.defaults);
        auto c = UpdateController::create(world.queue, world.server, world.defaults, activation, updater);
        c->setOnChange([this] { ++changes; });
        return c;
    }
    void setRunning(AudioObjectID device, bool running, bool notify = true) {
        world.server.setValue<uint32_t>(device, sel::deviceIsRunningSomewhere, scope::global, running ? 1u : 0u,
                                        notify);
    }
    // Stages an update through the updater's own callback, as the framework would.
    void stageThroughUpdater(const std::string& version) {
        auto delegate = updater->delegate.lock();
        ASSERT_TRUE(delegate);
        EXPECT_TRUE(delegate->willInstallUpdateOnQuit(version, [this] { ++installs; }));
        world.queue.runUntilIdle();
    }

    test::EngineFixture world;
    AppActivationState activation;
    std::shared_ptr<FakeUpdater> updater;
    AudioObjectID speakers = 0;
    AudioObjectID headphones = 0;
    int installs = 0;
    int changes = 0;
};

TEST_F(UpdateControllerTest, FirstLaunchSwitchesDownloadsOnLaterLaunchesKeepTheChoiceAndAStartErrorIsAbsorbed) {
    auto first = make();
    EXPECT_TRUE(updater->autoChecks);
    EXPECT_TRUE(first->automaticallyDownloadsUpdates());
    first->setAutomaticallyDownloadsUpdates(false);
    first.reset();
    auto second = make();
    EXPECT_FALSE(second->automaticallyDownloadsUpdates());

    updater = std::make_shared<FakeUpdater>(world.defaults);
    updater->failStart = true;
    auto failed = UpdateController::create(world.queue, world.server, world.defaults, activation, updater);
    failed->checkForUpdates();
    EXPECT_EQ(updater->checks, 1) << "the controller works on after a start error";
}

// The updater's callbacks reach the controller on the main queue, and each one logs its line.
TEST_F(UpdateControllerTest, UpdaterCallbacksSetTheAvailableVersionOnTheMainQueueAndLogTheirLines) {
    ScopedLogCapture log;
    auto controller = make();
    auto delegate = updater->delegate.lock();
    ASSERT_TRUE(delegate);
    delegate->didFindValidUpdate("2.0");
    EXPECT_FALSE(controller->availableVersion()) << "callbacks are handed to the main queue";
    struct Step {
        std::function<void()> callback;
        std::optional<std::string> available;
        int changes; // the same version again notifies nobody
        const char* line;
        LogLevel level;
    };
    const Step steps[] = {
        {[] {}, "2.0", 1, "update available: 2.0", LogLevel::notice},
        {[&] { delegate->willHandleShowingUpdate("2.0"); }, "2.0", 1, "update available: 2.0", LogLevel::notice},
        {[&] { delegate->didNotFindUpdate(""); }, std::nullopt, 2, "up to date", LogLevel::notice},
        {[&] { delegate->didAbortWithError("bad"); }, std::nullopt, 2, "update cycle failed: bad", LogLevel::error},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.line);
        s.callback();
        world.queue.runUntilIdle();
        EXPECT_EQ(controller->availableVersion(), s.available);
        EXPECT_EQ(changes, s.changes);
        EXPECT_EQ(log->count(s.line, s.level), 1u);
        log->clear();
    }
    stageThroughUpdater("2.1");
    EXPECT_EQ(log->count("update staged: 2.1"), 1u);
    EXPECT_EQ(controller->stagedVersion(), "2.1");
}

TEST_F(UpdateControllerTest, CallbacksFromAnotherThreadAfterTheControllerIsGoneAreIgnored) {
    auto controller = make();
    auto delegate = updater->delegate.lock();
    std::thread([&] {
        delegate->didFindValidUpdate("3.1");
        delegate->willInstallUpdateOnQuit("3.1", [this] { ++installs; });
    }).join();
    controller.reset();
    world.queue.runUntilIdle();
    EXPECT_EQ(installs, 0);
    EXPECT_FALSE(isRelaunchingForUpdate());
}

// A staged update installs only in a quiet moment: the agent not frontmost and the default output
// not playing; an unreadable state never holds it back. Each step is followed by the installs so far.
TEST_F(UpdateControllerTest, AStagedUpdateInstallsOnlyInAQuietMoment) {
    enum class Start { quiet, playing, bothPlaying, frontmostPlaying, runningUnreadable, defaultUnreadable };
    struct Step {
        std::function<void()> action;
        int installs;
    };
    struct Case {
        const char* what;
        Start start;
        int installsAtStage;
        std::vector<Step> steps;
    };
    auto stop = [this](bool notify, AudioObjectID device = 0) {
        return [this, notify, device] { setRunning(device ? device : speakers, false, notify); };
    };
    auto toHeadphones = [this] { world.audio.setDefaultOutput(headphones); };
    auto adv = [this](double s) { return [this, s] { world.queue.advance(s); }; };
    auto active = [this](bool on) { return [this, on] { activation.setActive(on); }; };
    const std::vector<Case> cases = {
        {"quiet", Start::quiet, 1, {}},
        {"playing, then it stops", Start::playing, 0, {{adv(5), 0}, {stop(true), 1}}},
        {"stops unheard: 15 s retry",
         Start::playing,
         0,
         {{adv(14.9), 0}, {adv(0.1), 0}, {stop(false), 0}, {adv(14.9), 0}, {adv(0.1), 1}}},
        {"frontmost: resigns while playing, silence while frontmost, then resigns",
         Start::frontmostPlaying,
         0,
         {{active(false), 0}, {active(true), 0}, {stop(true), 0}, {active(false), 1}}},
        {"the default switches to a quiet device", Start::playing, 0, {{toHeadphones, 1}}},
        {"the running watch moves to the new default",
         Start::bothPlaying,
         0,
         {{toHeadphones, 0}, {stop(true), 0}, {stop(true, headphones), 1}}},
        {"unreadable running state", Start::runningUnreadable, 1, {}},
        {"unreadable default device", Start::defaultUnreadable, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setRelaunchingForUpdate(false);
        installs = 0;
        world.server.clearFailure(speakers, sel::deviceIsRunningSomewhere);
        world.server.clearFailure(kAudioObjectSystemObject, sel::defaultOutputDevice);
        world.audio.setDefaultOutput(speakers);
        setRunning(speakers, c.start != Start::quiet);
        setRunning(headphones, c.start == Start::bothPlaying);
        activation.setActive(c.start == Start::frontmostPlaying);
        world.queue.runUntilIdle();
        if (c.start == Start::runningUnreadable) {
            world.server.injectFailure(speakers, sel::deviceIsRunningSomewhere, status::unspecified);
        } else if (c.start == Start::defaultUnreadable) {
            world.server.injectFailure(kAudioObjectSystemObject, sel::defaultOutputDevice, status::unspecified,
                                       SimAudioServer::opGet);
        }
        auto controller = make();
        stageThroughUpdater("2.1");
        EXPECT_EQ(installs, c.installsAtStage);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            c.steps[i].action();
            world.queue.runUntilIdle();
            EXPECT_EQ(installs, c.steps[i].installs) << "after step " << i;
        }
        EXPECT_EQ(isRelaunchingForUpdate(), installs == 1);
        EXPECT_FALSE(controller->areWatchersArmed()) << "the install disarms every watcher";
        EXPECT_EQ(activation.observerCount(), 0u);
        EXPECT_EQ(world.server.listenerCount(speakers, sel::deviceIsRunningSomewhere), 0u);
        EXPECT_EQ(world.server.listenerCount(headphones, sel::deviceIsRunningSomewhere), 0u);
        EXPECT_EQ(world.server.listenerCount(kAudioObjectSystemObject, sel::defaultOutputDevice), 0u);
        world.queue.advance(60);
        EXPECT_EQ(installs, 1) << "nothing retries after the install";
    }
}

TEST_F(UpdateControllerTest, ChoosingTheUpdateItemInstallsAStagedUpdateEvenWhilePlayingButNeverTwice) {
    setRunning(speakers, true);
    activation.setActive(true);
    world.queue.runUntilIdle();
    auto controller = make();
    controller->checkForUpdates();
    EXPECT_EQ(updater->checks, 1) << "nothing staged: the updater checks";

    stageThroughUpdater("2.3");
    EXPECT_EQ(installs, 0);
    controller->checkForUpdates();
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(updater->checks, 1);
    controller->checkForUpdates();
    EXPECT_EQ(installs, 1) << "a relaunch under way is never started twice";
    activation.setActive(false);
    setRunning(speakers, false);
    world.queue.runUntilIdle();
    int handlerCalls = 0;
    controller->stage("2.8", [&] { ++handlerCalls; }); // a quiet moment, but the relaunch is under way
    EXPECT_FALSE(controller->tryToInstall());
    EXPECT_EQ(handlerCalls, 0);
}

} // namespace
} // namespace orevant
