#include "engine/mixer_engine.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "recording/recording_test_support.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"
#include "ui/console_strip.h"
#include "ui/console_window.h"
#include "ui/record_button.h"
#include "ui/ui_test_support.h"

#include <QMenu>
#include <QPushButton>
#include <gtest/gtest.h>

namespace orevant {
namespace {

class ConsoleWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.defaults.set(RecordingFolder::kBookmarkKey, takes.path().string());
        world.addOutputDevice("interface", "Interface", 4); // MAIN and PHONES pairs: cue works
        music = world.addApp("com.example.music", "Music", 440.0);
        recorder = std::make_unique<MixRecorder>(world.queue, world.queue.hostClock(), [this](const std::string&) {
            return std::make_unique<test::SharedQueueRef>(world.queue);
        });
        world.makeEngine([this](MixerEngine::Services& services) { services.recorder = recorder.get(); });
        world.startEngine();
        window = std::make_unique<ConsoleWindow>(*world.engine, world.queue, world.defaults);
        window->show();
        test::layOut();
    }
    void TearDown() override {
        window.reset();
        world.dropEngine();
    }

    static QAction* action(QMenu& menu, const QString& title) {
        for (QAction* a : menu.actions()) {
            if (a->text() == title) return a;
        }
        return nullptr;
    }

    test::TempDir takes;
    test::EngineFixture world;
    test::SimApp music;
    std::unique_ptr<MixRecorder> recorder;
    std::unique_ptr<ConsoleWindow> window;
};

// From the console: an empty strip is assigned an app, and a saved scene is recalled.
TEST_F(ConsoleWindowTest, AssignsASlotAndRecallsAScene) {
    ConsoleStrip& strip = window->strip(2);
    ASSERT_TRUE(strip.target().empty());
    QAction* assign = action(strip.assignMenu(), "Music");
    ASSERT_NE(assign, nullptr);
    assign->trigger();
    EXPECT_EQ(world.engine->slots()[2], music.bundleID);
    EXPECT_EQ(strip.target(), music.bundleID);
    EXPECT_TRUE(strip.cueButton().isVisibleTo(window.get())) << "an app's strip has its cue button";
    strip.cueButton().click();
    EXPECT_TRUE(world.engine->volume(world.app(music)).isCued);

    // The PFL learn group arms the cue target, and the strip says so.
    QAction* learn = action(strip.stripMenu(), "Learn PFL MIDI");
    ASSERT_NE(learn, nullptr);
    learn->trigger();
    EXPECT_EQ(strip.captionText(), "LEARN");

    world.engine->setVolume(0.3f, world.app(music));
    window->saveSceneButton().click();
    ASSERT_EQ(window->sceneButtons().size(), 1u);
    EXPECT_EQ(window->sceneButtons()[0]->text(), "Scene 1");
    world.engine->setVolume(0.9f, world.app(music));
    window->sceneButtons()[0]->click();
    world.runAudio(0.1);
    EXPECT_FLOAT_EQ(world.engine->volume(world.app(music)).volume, 0.3f);

    action(strip.stripMenu(), "Clear Slot")->trigger();
    EXPECT_EQ(world.engine->slots()[2], "");
}

// The record button's text and help follow the engine; while a take runs it counts whole
// seconds on the main queue's clock and stops counting when the take ends.
TEST_F(ConsoleWindowTest, RecordButtonTextsAndTimer) {
    RecordButton& button = window->recordButton();
    EXPECT_EQ(button.text(), "REC");
    EXPECT_EQ(button.toolTip(), RecordButton::kIdleHelp);
    world.engine->setIsAutoRec(true);
    window->refreshNow();
    EXPECT_EQ(button.text(), "AUTO");
    world.engine->setIsAutoRec(false);
    window->refreshNow();

    button.click();
    ASSERT_TRUE(world.engine->isRecording());
    EXPECT_EQ(button.text(), "00:00");
    EXPECT_EQ(button.toolTip(), RecordButton::kRecordingHelp);
    world.advance(1.0);
    EXPECT_EQ(button.text(), "00:01");
    world.advance(64.5);
    EXPECT_EQ(button.text(), "01:05");

    button.click();
    EXPECT_FALSE(world.engine->isRecording());
    EXPECT_EQ(button.text(), "REC");
    world.advance(5.0);
    EXPECT_EQ(button.text(), "REC") << "the timer stopped with the take";

    EXPECT_EQ(RecordButton::elapsedText(6000.0), "100:00");
}

TEST_F(ConsoleWindowTest, OrientationIsStored) {
    EXPECT_FALSE(window->isPortrait());
    window->setPortrait(true);
    ConsoleWindow reopened(*world.engine, world.queue, world.defaults);
    EXPECT_TRUE(reopened.isPortrait());
}

} // namespace
} // namespace orevant
