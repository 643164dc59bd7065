#include "audio/audio_device_monitor.h"
#include "engine/mixer_engine.h"
#include "remote/pairing_pin.h"
#include "support/engine_fixture.h"
#include "ui/app_row.h"
#include "ui/bus_section.h"
#include "ui/companion_panel.h"
#include "ui/device_row.h"
#include "ui/level_meter.h"
#include "ui/level_slider.h"
#include "ui/mixer_window.h"
#include "ui/ui_test_support.h"

#include <QLabel>
#include <QMenu>
#include <gtest/gtest.h>

#include <algorithm>

namespace orevant {
namespace {

class MixerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        speakers = world.addOutputDevice("speakers", "Speakers");
        headset = world.addOutputDevice("headset", "Headset");
        music = world.addApp("com.example.music", "Music", 440.0);
        world.startEngine();
        window = std::make_unique<MixerWindow>(*world.engine, world.queue, nullptr);
        window->resize(380, 900);
        window->show();
        test::layOut();
    }
    void TearDown() override { window.reset(); }

    // Runs the engine's work (and the window's refresh) and lets Qt lay out the rebuilt rows.
    void settle() {
        world.runAudio(0.3);
        test::layOut();
    }

    // Drags the device row to the centre of `target` (a point in window coordinates).
    void dragDevice(const std::string& uid, QPoint target) {
        DeviceRow* row = window->deviceRow(uid);
        ASSERT_NE(row, nullptr);
        const QPoint from = row->rect().center();
        test::drag(row, from, row->mapFrom(window.get(), target));
    }

    QPoint centreOf(const QWidget* widget) const { return widget->mapTo(window.get(), widget->rect().center()); }

    test::EngineFixture world;
    AudioObjectID speakers = 0;
    AudioObjectID headset = 0;
    test::SimApp music;
    std::unique_ptr<MixerWindow> window;
};

// Where a device row is let go decides what happens, and only the named zones act: an app row
// routes the app to the device (heard there), MAIN makes it the default, PHONES takes nothing,
// a release where it was pressed is a click (default).
TEST_F(MixerWindowTest, DeviceRowDropsActOnTheZoneUnderThePointer) {
    enum Zone { appRow, mainBus, phonesBus, click };
    struct Case {
        Zone zone;
        bool headsetIsDefault;
        bool musicOnHeadset;
    };
    for (Case c : {Case{phonesBus, false, false}, Case{appRow, false, true}, Case{mainBus, true, false},
                   Case{click, true, false}}) {
        world.engine->resetApp(world.app(music));
        world.engine->deviceMonitor().setDefault(*world.engine->deviceMonitor().device("speakers"));
        settle();
        ASSERT_NE(window->appRow(music.bundleID), nullptr);
        ASSERT_EQ(world.rms(headset, 0), 0.0f) << "nothing plays on the headset before the drop";

        const QWidget* zones[] = {window->appRow(music.bundleID), window->busSection()->zone(OutputBus::main),
                                  window->busSection()->zone(OutputBus::phones), window->deviceRow("headset")};
        dragDevice("headset", centreOf(zones[c.zone]));
        settle();
        SCOPED_TRACE(c.zone);
        EXPECT_EQ(world.engine->deviceMonitor().defaultDeviceID() == headset, c.headsetIsDefault);
        EXPECT_EQ(world.engine->outputDeviceUIDs(world.app(music)) == std::vector<std::string>{"headset"},
                  c.musicOnHeadset);
        if (c.musicOnHeadset) {
            EXPECT_GT(world.rms(headset, 0), 0.1f) << "the app is heard on the device it was dropped on";
        }
        EXPECT_FALSE(window->busTarget() || window->routeTargetBundleID()) << "the drop targets clear on release";
    }
}

// A device dragged within the list lands where it is let go.
TEST_F(MixerWindowTest, DraggingADeviceRowVerticallyReorders) {
    DeviceRow* last = window->deviceRow("headset");
    DeviceRow* first = window->deviceRow("speakers");
    ASSERT_TRUE(first && last);
    dragDevice("headset", centreOf(first) - QPoint(0, first->height() / 2 - 1));
    settle();
    const auto& devices = world.engine->deviceMonitor().devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].uid, "headset");
}

// The row shows the engine's value, and the slider, the symbol tap and the label drive and
// follow the engine; with the window closed, meter ticks reach no widget.
TEST_F(MixerWindowTest, AppRowFollowsTheEngineAndMetersOnlyWhileShown) {
    AppRow* row = window->appRow(music.bundleID);
    ASSERT_NE(row, nullptr);
    test::mouse(&row->slider(), QEvent::MouseButtonPress, {row->slider().width() / 2, 10});
    test::mouse(&row->slider(), QEvent::MouseButtonRelease, {row->slider().width() / 2, 10}, Qt::NoButton);
    settle();
    EXPECT_NEAR(world.engine->volumes().at(music.bundleID).volume, 0.5f, 0.01f);
    EXPECT_GT(row->meter().level(), 0.0f) << "a tapped, playing app shows its level";

    world.engine->setVolume(0.999f, world.app(music));
    settle();
    EXPECT_EQ(row->labelText(), "99%");

    window->hide();
    const int repaints = row->meter().repaintRequests();
    world.engine->setVolume(0.2f, world.app(music));
    world.runAudio(1.0);
    EXPECT_EQ(row->meter().repaintRequests(), repaints) << "a closed window paints nothing";
    EXPECT_EQ(row->labelText(), "99%") << "and does not even follow the engine";
    window->show();
    test::layOut();
    EXPECT_EQ(window->appRow(music.bundleID)->labelText(), "20%") << "shown again, it catches up at once";
}

// Names come from other programs: markup in one is shown as text, never interpreted.
TEST_F(MixerWindowTest, AnAppNameWithMarkupIsShownAsPlainText) {
    const std::string name = "<img src=\"/etc/passwd\"><b>Player</b>";
    test::SimApp hostile = world.addApp("com.example.hostile", name, 330.0);
    settle();
    AppRow* row = window->appRow(hostile.bundleID);
    ASSERT_NE(row, nullptr);
    const auto labels = row->findChildren<QLabel*>();
    const auto shown = std::find_if(labels.begin(), labels.end(),
                                    [&](QLabel* label) { return label->text() == QString::fromStdString(name); });
    ASSERT_NE(shown, labels.end());
    EXPECT_EQ((*shown)->textFormat(), Qt::PlainText);
}

// A row's menu runs its own event loop while the engine goes on: the rows it acts on must not be
// rebuilt (deleted) under it; the list catches up once the menu is gone.
TEST_F(MixerWindowTest, ListChangesWaitWhileARowMenuIsOpen) {
    AppRow* row = window->appRow(music.bundleID);
    ASSERT_NE(row, nullptr);
    QMenu menu; // no parent: the row goes with the rebuild below
    menu.addAction("Reset to 100%");
    menu.popup(row->mapToGlobal(QPoint(5, 5)));
    test::layOut();
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    test::SimApp radio = world.addApp("com.example.radio", "Radio", 550.0);
    settle();
    EXPECT_EQ(window->appRow(music.bundleID), row) << "the row under the open menu is still the same widget";
    EXPECT_EQ(window->appRow(radio.bundleID), nullptr);
    menu.close();
    test::layOut();
    settle();
    EXPECT_NE(window->appRow(radio.bundleID), nullptr) << "the new app appears once the menu closed";
}

// The PIN shows as dots until revealed, and hides again when the window closes, so an unattended
// window never shows it; a reissued PIN replaces the one shown.
TEST_F(MixerWindowTest, CompanionPINStaysHiddenUntilRevealedAndAfterClosing) {
    window->setActiveTab("phone");
    CompanionPanel& panel = window->companionPanel();
    EXPECT_EQ(panel.pinText(), CompanionPanel::kHiddenPIN);
    panel.setRevealed(true);
    const QString pin = QString::fromStdString(world.engine->pairingPIN().pin());
    EXPECT_EQ(panel.pinText(), pin);
    window->hide();
    window->show();
    EXPECT_EQ(panel.pinText(), CompanionPanel::kHiddenPIN);
    world.engine->resetCompanionPairing();
    panel.setRevealed(true);
    EXPECT_NE(panel.pinText(), pin);
}

TEST_F(MixerWindowTest, EmptyAndWaitingStates) {
    world.removeApp(music);
    settle();
    EXPECT_EQ(window->stateText(), MixerWindow::kNothingPlaying);
    window->setDirection(AudioDirection::input);
    EXPECT_EQ(window->stateText(), MixerWindow::kNothingRecording);

    test::EngineFixture fresh;
    fresh.addOutputDevice("speakers", "Speakers");
    MixerWindow waiting(fresh.makeEngine(), fresh.queue, nullptr);
    EXPECT_EQ(waiting.stateText(), MixerWindow::kWaiting);
}

} // namespace
} // namespace orevant
