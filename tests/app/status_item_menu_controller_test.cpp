#include "app/status_item_menu_controller.h"

#include "app/app_activation_state.h"
#include "app/process_state.h"
#include "app/update_controller.h"
#include "platform/linux/autostart_entry.h"
#include "platform/linux/linux_updater.h"
#include "recording/recording_folder.h"
#include "support/engine_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orevant {
namespace {

using Menu = StatusItemMenuController;

class StatusItemMenuControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setRelaunchingForUpdate(false);
        builtin = world.addOutputDevice("builtin", "Built-in Output");
        world.queue.runUntilIdle();
        updates = UpdateController::create(
            world.queue, world.server, world.defaults, activation,
            std::make_shared<LinuxUpdater>(world.defaults, world.queue, LinuxUpdater::Settings{}));
    }
    void TearDown() override {
        setRelaunchingForUpdate(false);
        MixerEngine::setCurrent(nullptr);
    }

    std::unique_ptr<Menu> makeMenu(std::function<MixerEngine*()> engine = [] { return nullptr; }) {
        Menu::Hooks hooks;
        hooks.popUpMenu = [this](const std::vector<Menu::MenuItem>& items) { poppedUp.push_back(items); };
        hooks.copyToPasteboard = [this](const std::string& text) { pasteboard = text; };
        hooks.openURL = [this](const std::string& url) { openedURLs.push_back(url); };
        hooks.postNotification = [this](const std::string& name) { notifications.push_back(name); };
        hooks.quit = [this] { ++quits; };
        return std::make_unique<Menu>(updates, loginItem, Menu::AppInfo{"1.4.2", "142"},
                                      SystemInfo{"Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))", "ThinkPad X1"}, hooks,
                                      std::move(engine));
    }

    // Chooses the item with this title, as a click on it does.
    static void choose(Menu& menu, const std::string& title) {
        for (const auto& item : menu.buildMenu()) {
            if (!item.isSeparator && item.title == title) return menu.perform(item.action);
        }
        ADD_FAILURE() << "no item " << title;
    }

    test::TempDir home;
    test::EngineFixture world;
    AppActivationState activation;
    std::shared_ptr<UpdateController> updates;
    AutostartEntry loginItem{home / "autostart" / "orevant.desktop", "/usr/bin/orevant"};
    std::vector<std::vector<Menu::MenuItem>> poppedUp;
    std::string pasteboard;
    std::vector<std::string> openedURLs;
    std::vector<std::string> notifications;
    int quits = 0;
    AudioObjectID builtin = 0;
};

TEST_F(StatusItemMenuControllerTest, TheMenuListsItsItemsInOrderWithTheirStates) {
    auto menu = makeMenu();
    const auto items = menu->buildMenu();
    std::vector<std::string> titles;
    for (const auto& item : items) titles.push_back(item.isSeparator ? "---" : item.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"OREVANT 1.4.2", "---", "Launch at Login", "---", "Check for Updates…",
                                                "Update Automatically", "Settings…", "Support…", "Copy Diagnostics",
                                                "Licence Agreement…", "---", "Quit OREVANT"}));
    EXPECT_FALSE(items[0].isEnabled);
    EXPECT_FALSE(items[2].isChecked);
    EXPECT_TRUE(items[5].isChecked) << "automatic downloads are on after the first launch";
    EXPECT_EQ(items[6].keyEquivalent, ",");
    EXPECT_EQ(items[11].keyEquivalent, "q");
    StatusItemMenuController dev(updates, loginItem, {std::nullopt, "1"}, {}, {}, [] { return nullptr; });
    EXPECT_EQ(dev.buildMenu()[0].title, "OREVANT dev");
}

TEST_F(StatusItemMenuControllerTest, TheUpdateItemFollowsWhatTheUpdaterKnows) {
    auto menu = makeMenu();
    activation.setActive(true); // staged while frontmost: it waits, and the item offers the restart
    int installs = 0;
    updates->stage("2.0.1", [&] { ++installs; });
    EXPECT_EQ(menu->buildMenu()[4].title, "Restart to Update to 2.0.1");
    EXPECT_EQ(installs, 0);
    choose(*menu, "Restart to Update to 2.0.1");
    EXPECT_EQ(installs, 1);
}

// Each item does what it says; a login item that cannot be written leaves the menu showing the truth.
TEST_F(StatusItemMenuControllerTest, EachItemActsAndTheTogglesShowTheRealState) {
    auto menu = makeMenu();
    for (const bool on : {true, false}) {
        choose(*menu, "Launch at Login");
        EXPECT_EQ(menu->buildMenu()[2].isChecked, on);
        choose(*menu, "Update Automatically");
        EXPECT_EQ(menu->buildMenu()[5].isChecked, !on);
        EXPECT_EQ(world.defaults.boolean("SUAutomaticallyUpdate"), !on);
    }
    choose(*menu, "Settings…");
    EXPECT_EQ(notifications, std::vector<std::string>{"orevant.showSettings"});
    choose(*menu, "Support…");
    choose(*menu, "Licence Agreement…");
    EXPECT_EQ(openedURLs, (std::vector<std::string>{Menu::kSupportURL, Menu::kEULAURL}));
    choose(*menu, "Copy Diagnostics");
    EXPECT_EQ(pasteboard, menu->diagnosticsReport());
    EXPECT_EQ(quits, 0);
    choose(*menu, "Quit OREVANT");
    EXPECT_EQ(quits, 1);

    std::ofstream(home / "blocker") << "not a folder";
    AutostartEntry blocked(home / "blocker" / "autostart" / "orevant.desktop", "/usr/bin/orevant");
    StatusItemMenuController unwritable(updates, blocked, {"1.0", "1"}, {}, {}, [] { return nullptr; });
    EXPECT_NO_THROW(choose(unwritable, "Launch at Login"));
    EXPECT_FALSE(unwritable.buildMenu()[2].isChecked);
}

TEST_F(StatusItemMenuControllerTest, RightAndControlClicksOpenTheMenuAndPlainLeftClicksOpenTheWindow) {
    auto menu = makeMenu();
    const Menu::MouseEvent right{Menu::MouseEvent::Type::rightMouseDown, "NSStatusBarWindow", 0};
    const Menu::MouseEvent controlLeft{Menu::MouseEvent::Type::leftMouseDown, "NSStatusBarWindow", 0x40000 | 0x100};
    const Menu::MouseEvent left{Menu::MouseEvent::Type::leftMouseDown, "NSStatusBarWindow", 0x100};
    const Menu::MouseEvent elsewhere{Menu::MouseEvent::Type::rightMouseDown, "MixerWindow", 0};

    EXPECT_EQ(menu->handleEvent(right), Menu::EventResult::passOn) << "no monitor installed yet";
    menu->installMonitor();
    EXPECT_EQ(menu->handleEvent(right), Menu::EventResult::swallowed);
    EXPECT_EQ(menu->handleEvent(controlLeft), Menu::EventResult::swallowed);
    EXPECT_EQ(menu->handleEvent(left), Menu::EventResult::passOn);
    EXPECT_EQ(menu->handleEvent(elsewhere), Menu::EventResult::passOn);
    ASSERT_EQ(poppedUp.size(), 2u);
    updates->foundUpdate("3.0"); // rebuilt on each opening: a change in between shows
    menu->handleEvent(right);
    ASSERT_EQ(poppedUp.size(), 3u);
    EXPECT_EQ(poppedUp[2][4].title, "Update to 3.0");
}

// The report: three lines without an engine, the engine's state with one, and the process-wide
// engine by default only while it lives.
TEST_F(StatusItemMenuControllerTest, TheDiagnosticsReportDescribesTheEngineWhileThereIsOne) {
    auto menu = makeMenu([this] { return world.engine.get(); });
    const std::string header =
        "OREVANT 1.4.2 (142)\nLinux 6.1.0 (Debian GNU/Linux 12 (bookworm))\nHardware ThinkPad X1";
    EXPECT_EQ(menu->diagnosticsReport(), header);

    const AudioObjectID interface = world.addOutputDevice("usb-interface", "Studio Interface", 8, transport::usb);
    world.setDefaultOutput(interface);
    world.startEngine();
    const std::string folder = RecordingFolder(world.defaults).displayFolderPath();
    EXPECT_EQ(menu->diagnosticsReport(), header +
                                             "\nMAIN device: Studio Interface — 8 ch"
                                             "\nChannel pairing: MAIN 1/2, PHONES 3/4\nActive taps: 0"
                                             "\nRecording: no → " +
                                             folder + "\nMIDI mappings: 0\nPhone paired: no");
    world.setDefaultOutput(builtin);
    world.settle();
    EXPECT_NE(menu->diagnosticsReport().find("\nMAIN device: Built-in Output — 2 ch"
                                             "\nChannel pairing: none (PHONES unavailable)\n"),
              std::string::npos);

    MixerEngine::setCurrent(world.engine.get());
    StatusItemMenuController byDefault(updates, loginItem, {"1.4.2", "142"}, {"Linux 6", "pc"}, {});
    EXPECT_NE(byDefault.diagnosticsReport().find("Active taps"), std::string::npos);
    world.dropEngine();
    EXPECT_EQ(byDefault.diagnosticsReport(), "OREVANT 1.4.2 (142)\nLinux 6\nHardware pc") << "the engine is gone";
}

TEST_F(StatusItemMenuControllerTest, TheOperatingSystemLineNamesThePlatformItRunsOn) {
    const SystemInfo info = SystemInfo::current();
    EXPECT_EQ(info.operatingSystem.rfind("Linux ", 0), 0u) << info.operatingSystem;
    EXPECT_FALSE(info.hardwareModel.empty());
    EXPECT_EQ(SystemInfo::prettyName("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(SystemInfo::prettyName("NAME=Fedora\nVERSION='40 (Workstation)'\n"), "Fedora 40 (Workstation)");
    EXPECT_EQ(SystemInfo::prettyName("garbage"), "");
}

} // namespace
} // namespace orevant
