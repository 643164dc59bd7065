#include "audio/audio_process_monitor.h"

#include "platform/capture_log_sink.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_workspace.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

class AudioProcessMonitorTest : public ::testing::Test {
protected:
    void addApp(int32_t pid, std::optional<std::string> bundle, std::optional<std::string> name,
                ActivationPolicy policy = ActivationPolicy::regular) {
        workspace.addApplication(SimApplication{RunningApplication{pid, bundle, name, policy}, 0});
    }
    AudioObjectID addProcess(int32_t pid, bool playing = false, bool recording = false) {
        return system.addProcess(SimProcessSpec{pid, playing, recording, {}});
    }
    // Reads of the process list: one size query and one data read per refresh with a non-empty list.
    size_t listReads() const { return server.getCallCount(kAudioObjectSystemObject, sel::processObjectList); }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    SimWorkspace workspace{"com.brenlake.orevant"};
    AudioProcessMonitor monitor{server, queue, workspace};
    ScopedLogCapture logs;
};

TEST_F(AudioProcessMonitorTest, GroupsHelpersUnderTheirResponsibleApplication) {
    addApp(100, "com.example.browser", "Browser");
    const AudioObjectID main = addProcess(100);
    const AudioObjectID renderer = addProcess(101, true);
    const AudioObjectID gpu = addProcess(102);
    workspace.setResponsibleProcess(101, 100);
    workspace.setResponsibleProcess(102, 100);
    // A lookup that answers 0 or -1 leaves the process on its own.
    addApp(200, "com.example.player", "Player");
    const AudioObjectID player = addProcess(200);
    workspace.setResponsibleProcess(200, -1);
    addApp(300, "com.example.notes", "Notes");
    const AudioObjectID notes = addProcess(300);
    workspace.setResponsibleProcess(300, 0);

    monitor.start();
    ASSERT_EQ(monitor.apps().size(), 3u);
    const AudioApp& browser = monitor.apps()[0];
    EXPECT_EQ(browser.id, 100);
    EXPECT_EQ(browser.bundleID, "com.example.browser");
    EXPECT_EQ(browser.objectIDs, (std::vector<AudioObjectID>{main, renderer, gpu}));
    EXPECT_TRUE(browser.isPlaying);
    EXPECT_EQ(monitor.apps()[1].objectIDs, std::vector<AudioObjectID>{notes});
    EXPECT_EQ(monitor.apps()[2].objectIDs, std::vector<AudioObjectID>{player});

    // Without any lookup on the platform every process maps to itself.
    workspace.setHasResponsibleProcessLookup(false);
    EXPECT_EQ(monitor.owner(101), 101);
}

// Also the monitor's one check of its diagnostic texts.
TEST_F(AudioProcessMonitorTest, OrdersPlayingFirstThenByNameIgnoringCaseNamesFallBackAndUnreadablePIDsAreSkipped) {
    addApp(1, "com.example.zed", "zed");
    addApp(2, "com.example.alpha", "Alpha");
    addApp(3, "com.example.beta", "beta");
    addApp(4, "com.example.unnamed", std::nullopt);
    addApp(5, std::nullopt, "No bundle");
    addProcess(1, true);
    addProcess(2);
    addProcess(3);
    addProcess(4, true);
    addProcess(5, true);
    addProcess(99, true); // no running application at all
    server.injectFailure(addProcess(3), sel::processPID, status::unspecified);

    monitor.start();
    std::vector<std::string> names;
    for (const AudioApp& app : monitor.apps()) names.push_back(app.name);
    EXPECT_EQ(names, (std::vector<std::string>{"com.example.unnamed", "zed", "Alpha", "beta"}));

    // An unreadable list leaves the applications as they were.
    server.injectFailure(kAudioObjectSystemObject, sel::processObjectList, status::unspecified);
    monitor.refresh();
    EXPECT_EQ(monitor.apps().size(), 4u);
    const struct {
        const char* text;
        LogLevel level;
        size_t count;
    } said[] = {
        {"Apps: 4/7 HAL processes — com.example.unnamed*, zed*, Alpha, beta", LogLevel::info, 1},
        {"GROUP zed objects=[", LogLevel::debug, 1},
        {"UNGROUPED object=", LogLevel::debug, 3},
        {"pid=99 owner=99 bundle=? out=true", LogLevel::debug, 1},
        {"pid=-1 owner=-1 bundle=?", LogLevel::debug, 1},
        {"Failed to read HAL process list", LogLevel::error, 1},
    };
    for (const auto& line : said) EXPECT_EQ(logs->count(line.text, line.level), line.count) << line.text;
}

TEST_F(AudioProcessMonitorTest, AccessoryListedOnlyWhileItMakesOrTakesSoundRegularStaysTheAgentNever) {
    addApp(10, "com.example.menubar", "Menubar", ActivationPolicy::accessory);
    addApp(11, "com.example.editor", "Editor");
    addApp(12, "com.example.daemon", "Daemon", ActivationPolicy::prohibited);
    const AudioObjectID menubar = addProcess(10, true);
    addProcess(11);
    const AudioObjectID daemon = addProcess(12, false, true);
    addApp(50, "com.brenlake.orevant", "OREVANT");
    addProcess(50, true);

    monitor.start();
    ASSERT_EQ(monitor.apps().size(), 3u);
    EXPECT_TRUE(monitor.apps()[1].isRecording);

    system.setPlaying(menubar, false);
    system.setRecording(daemon, false);
    monitor.refresh();
    ASSERT_EQ(monitor.apps().size(), 1u);
    EXPECT_EQ(monitor.apps()[0].name, "Editor");
}

// Faults: every list change refreshed at once (a burst read the list ten times); a refresh that
// found nothing new notified every observer and logged the list again.
TEST_F(AudioProcessMonitorTest, BurstOfListChangesGivesOneRefreshAfterTheLastAndAnUnchangedResultIsNotPublished) {
    addApp(1, "com.example.a", "A");
    addProcess(1);
    int notified = 0;
    auto token = monitor.addObserver([&] { ++notified; });
    monitor.start();
    EXPECT_EQ(notified, 1);
    logs->clear();
    const size_t before = listReads();
    for (int i = 0; i < 10; ++i) { // ten list changes within 50 ms
        server.notify(kAudioObjectSystemObject, sel::processObjectList, scope::global);
        queue.advance(0.005);
    }
    queue.advance(0.09); // 95 ms after the last change
    EXPECT_EQ(listReads(), before);
    queue.advance(0.01);
    EXPECT_EQ(listReads(), before + 2); // one refresh: size query and data read
    queue.advance(1.5);
    EXPECT_EQ(listReads(), before + 2);
    EXPECT_EQ(notified, 1);
    EXPECT_TRUE(logs->records().empty());
}

TEST_F(AudioProcessMonitorTest, PollsEveryTwoSecondsNewProcessesAppearAndADestroyedMonitorStops) {
    addApp(1, "com.example.a", "A");
    addApp(2, "com.example.b", "B");
    addProcess(1);
    {
        AudioProcessMonitor shortLived(server, queue, workspace);
        shortLived.start();
        server.notify(kAudioObjectSystemObject, sel::processObjectList, scope::global);
        queue.runUntilIdle(); // its debounced refresh is pending
    }
    monitor.start();
    monitor.start(); // a second start installs nothing more
    EXPECT_EQ(server.listenerCount(kAudioObjectSystemObject, sel::processObjectList), 1u);
    const size_t before = listReads();
    queue.advance(1.999);
    EXPECT_EQ(listReads(), before);
    queue.advance(0.002);
    EXPECT_EQ(listReads(), before + 2);
    queue.advance(2.0);
    EXPECT_EQ(listReads(), before + 4);

    // The running state of an existing process changes without a list change: the poll sees it.
    const AudioObjectID b = addProcess(2);
    queue.advance(0.2);
    ASSERT_EQ(monitor.apps().size(), 2u);
    system.setPlaying(b, true);
    queue.advance(2.0);
    EXPECT_EQ(monitor.apps()[0].name, "B");
    EXPECT_TRUE(monitor.apps()[0].isPlaying);
}

} // namespace
} // namespace orevant
