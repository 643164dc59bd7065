#include "app/status_item_menu_controller.h"

#include "app/app_activation_state.h"
#include "app/process_state.h"
#include "app/update_controller.h"
#include "engine/mixer_engine.h"
#include "platform/defaults_store.h"
#include "platform/linux/autostart_entry.h"
#include "platform/linux/linux_updater.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_workspace.h"
#include "recording/recording_folder.h"
#include "remote/osc_listener.h"
#include "support/scoped_env.h"
#include "support/sim_specs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>

#include <fstream>
#include <sstream>

namespace orevant {
namespace {

using Menu = StatusItemMenuController;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

class StatusItemMenuControllerTest : public ::testing::Test {
protected:
    std::optional<test::ScopedEnv> homeEnv, musicEnv, configEnv;
    void SetUp() override {
        setRelaunchingForUpdate(false);
        homeEnv.emplace("HOME", home.path().c_str());
        musicEnv.emplace("XDG_MUSIC_DIR", nullptr);
        configEnv.emplace("XDG_CONFIG_HOME", (home.path() / ".config").c_str());
        speakers = system.addDevice(test::deviceSpec("builtin", 2, 48000.0, 0, transport::builtIn, "Built-in Output"));
        system.setDefaultOutput(speakers);
        queue.runUntilIdle();
        updater = std::make_shared<LinuxUpdater>(defaults, queue, LinuxUpdater::Settings{});
        updates = UpdateController::create(queue, server, defaults, activation, updater);
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

    test::TempDir home;
    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    InMemoryDefaultsStore defaults;
    AppActivationState activation;
    std::shared_ptr<LinuxUpdater> updater;
    std::shared_ptr<UpdateController> updates;
    AutostartEntry loginItem{home / ".config" / "autostart" / "orevant.desktop", "/usr/bin/orevant"};
    AudioObjectID speakers = 0;

    std::vector<std::vector<Menu::MenuItem>> poppedUp;
    std::string pasteboard;
    std::vector<std::string> openedURLs;
    std::vector<std::string> notifications;
    int quits = 0;
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
    EXPECT_EQ(items[2].action, Menu::Action::toggleLaunchAtLogin);
    EXPECT_EQ(items[4].action, Menu::Action::checkForUpdates);
    EXPECT_TRUE(items[5].isChecked) << "automatic downloads are on after the first launch";
    EXPECT_EQ(items[6].keyEquivalent, ",");
    EXPECT_EQ(items[11].keyEquivalent, "q");
    EXPECT_EQ(items[11].action, Menu::Action::quit);

    StatusItemMenuController dev(updates, loginItem, {std::nullopt, "1"}, {}, {}, [] { return nullptr; });
    EXPECT_EQ(dev.buildMenu()[0].title, "OREVANT dev");
}

TEST_F(StatusItemMenuControllerTest, TheUpdateItemFollowsWhatTheUpdaterKnows) {
    auto menu = makeMenu();
    updates->foundUpdate("2.0");
    EXPECT_EQ(menu->buildMenu()[4].title, "Update to 2.0");
    // Staged while the agent is frontmost: it waits, and the item offers the restart.
    activation.setActive(true);
    int installs = 0;
    updates->stage("2.0.1", [&] { ++installs; });
    EXPECT_EQ(menu->buildMenu()[4].title, "Restart to Update to 2.0.1");
    EXPECT_EQ(installs, 0);
    menu->perform(Menu::Action::checkForUpdates);
    EXPECT_EQ(installs, 1);
}

TEST_F(StatusItemMenuControllerTest, TogglesChangeLaunchAtLoginAndAutomaticUpdates) {
    auto menu = makeMenu();
    menu->perform(Menu::Action::toggleLaunchAtLogin);
    EXPECT_TRUE(std::filesystem::exists(home / ".config" / "autostart" / "orevant.desktop"));
    EXPECT_TRUE(menu->buildMenu()[2].isChecked);
    menu->perform(Menu::Action::toggleLaunchAtLogin);
    EXPECT_FALSE(std::filesystem::exists(home / ".config" / "autostart" / "orevant.desktop"));
    EXPECT_FALSE(menu->buildMenu()[2].isChecked);

    menu->perform(Menu::Action::toggleAutoUpdate);
    EXPECT_FALSE(menu->buildMenu()[5].isChecked);
    EXPECT_EQ(defaults.boolean("SUAutomaticallyUpdate"), false);
    menu->perform(Menu::Action::toggleAutoUpdate);
    EXPECT_TRUE(menu->buildMenu()[5].isChecked);
}

TEST_F(StatusItemMenuControllerTest, ALoginItemErrorIsDroppedAndTheMenuShowsTheRealState) {
    std::ofstream(home / "blocker") << "not a folder";
    AutostartEntry blocked(home / "blocker" / "autostart" / "orevant.desktop", "/usr/bin/orevant");
    StatusItemMenuController menu(updates, blocked, {"1.0", "1"}, {}, {}, [] { return nullptr; });
    EXPECT_NO_THROW(menu.perform(Menu::Action::toggleLaunchAtLogin));
    EXPECT_FALSE(menu.buildMenu()[2].isChecked);
}

TEST_F(StatusItemMenuControllerTest, RightAndControlClicksOpenTheMenuAndPlainLeftClicksOpenTheWindow) {
    auto menu = makeMenu();
    const Menu::MouseEvent right{Menu::MouseEvent::Type::rightMouseDown, "NSStatusBarWindow", 0};
    const Menu::MouseEvent controlLeft{Menu::MouseEvent::Type::leftMouseDown, "NSStatusBarWindow", 0x40000 | 0x100};
    const Menu::MouseEvent left{Menu::MouseEvent::Type::leftMouseDown, "NSStatusBarWindow", 0x100};
    const Menu::MouseEvent elsewhere{Menu::MouseEvent::Type::rightMouseDown, "MixerWindow", 0};

    EXPECT_EQ(menu->handleEvent(right), Menu::EventResult::passOn) << "no monitor installed yet";
    EXPECT_TRUE(poppedUp.empty());

    menu->installMonitor();
    EXPECT_EQ(menu->handleEvent(right), Menu::EventResult::swallowed);
    EXPECT_EQ(menu->handleEvent(controlLeft), Menu::EventResult::swallowed);
    EXPECT_EQ(menu->handleEvent(left), Menu::EventResult::passOn);
    EXPECT_EQ(menu->handleEvent(elsewhere), Menu::EventResult::passOn);
    ASSERT_EQ(poppedUp.size(), 2u);
    EXPECT_EQ(poppedUp[0], menu->buildMenu());

    // Rebuilt on each opening: a change in between shows in the next menu.
    updates->foundUpdate("3.0");
    menu->handleEvent(right);
    ASSERT_EQ(poppedUp.size(), 3u);
    EXPECT_EQ(poppedUp[2][4].title, "Update to 3.0");
}

TEST_F(StatusItemMenuControllerTest, ActionsReachSettingsThePagesTheClipboardAndQuit) {
    auto menu = makeMenu();
    menu->perform(Menu::Action::openSettings);
    EXPECT_EQ(notifications, std::vector<std::string>{"orevant.showSettings"});
    menu->perform(Menu::Action::openSupport);
    menu->perform(Menu::Action::openEULA);
    EXPECT_EQ(openedURLs, (std::vector<std::string>{Menu::kSupportURL, Menu::kEULAURL}));
    menu->perform(Menu::Action::copyDiagnostics);
    EXPECT_EQ(pasteboard, menu->diagnosticsReport());
    EXPECT_EQ(quits, 0);
    menu->perform(Menu::Action::quit);
    EXPECT_EQ(quits, 1);
}

TEST_F(StatusItemMenuControllerTest, WithoutAnEngineTheReportHasExactlyThreeLines) {
    auto menu = makeMenu();
    EXPECT_EQ(menu->diagnosticsReport(),
              "OREVANT 1.4.2 (142)\nLinux 6.1.0 (Debian GNU/Linux 12 (bookworm))\nHardware ThinkPad X1");
    // The default resolver is the process-wide engine, of which there is none.
    StatusItemMenuController byDefault(updates, loginItem, {"1.4.2", "142"}, {"Linux 6", "pc"}, {});
    EXPECT_EQ(splitLines(byDefault.diagnosticsReport()).size(), 3u);
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

class DiagnosticsWithEngineTest : public StatusItemMenuControllerTest {
protected:
    std::unique_ptr<MixerEngine> makeEngine() {
        MixerEngine::Services services{
            .mainQueue = queue,
            .audioServer = server,
            .defaults = defaults,
            .workspace = workspace,
            .bluetooth = bluetooth,
            .hostClock = queue.hostClock(),
            .midiSystem = nullptr,
            .advertiser = nullptr,
            .oscPort = 0,
            .recorder = nullptr,
            .blockingWait = [this](double seconds) { queue.advance(seconds); },
        };
        return std::make_unique<MixerEngine>(services);
    }
    SimWorkspace workspace;
    SimBluetooth bluetooth{queue};
};

TEST_F(DiagnosticsWithEngineTest, TheReportDescribesTheEnginesState) {
    auto interface =
        system.addDevice(test::deviceSpec("usb-interface", 8, 48000.0, 0, transport::usb, "Studio Interface"));
    system.setDefaultOutput(interface);
    queue.runUntilIdle();
    auto engine = makeEngine();
    engine->start();
    queue.runUntilIdle();
    auto menu = makeMenu([&] { return engine.get(); });
    const std::string folder = RecordingFolder(defaults).displayFolderPath();

    auto lines = splitLines(menu->diagnosticsReport());
    ASSERT_EQ(lines.size(), 9u) << menu->diagnosticsReport();
    EXPECT_EQ(lines[0], "OREVANT 1.4.2 (142)");
    EXPECT_EQ(lines[3], "MAIN device: Studio Interface — 8 ch");
    EXPECT_EQ(lines[4], "Channel pairing: MAIN 1/2, PHONES 3/4");
    EXPECT_EQ(lines[5], "Active taps: 0");
    EXPECT_EQ(lines[6], "Recording: no → " + folder);
    EXPECT_EQ(lines[7], "MIDI mappings: 0");
    EXPECT_EQ(lines[8], "Phone paired: no");
    EXPECT_EQ(menu->diagnosticsReport().back(), 'o') << "no trailing newline";

    engine->setBusPairing("usb-interface", 4, 6);
    engine->oscListener().onIPhoneConnected(NetworkEndpoint{"127.0.0.1", 50000});
    lines = splitLines(menu->diagnosticsReport());
    EXPECT_EQ(lines[4], "Channel pairing: MAIN 5/6, PHONES 7/8");
    EXPECT_EQ(lines[8], "Phone paired: yes");

    // A stereo device has no PHONES pair.
    system.setDefaultOutput(speakers);
    queue.runUntilIdle();
    lines = splitLines(menu->diagnosticsReport());
    EXPECT_EQ(lines[3], "MAIN device: Built-in Output — 2 ch");
    EXPECT_EQ(lines[4], "Channel pairing: none (PHONES unavailable)");

    StatusItemMenuController byDefault(updates, loginItem, {"1.4.2", "142"}, {"Linux 6", "pc"}, {});
    EXPECT_EQ(splitLines(byDefault.diagnosticsReport()).size(), 9u) << "the started engine is the current one";
    engine.reset();
    EXPECT_EQ(splitLines(menu->diagnosticsReport()).size(), 3u);
    StatusItemMenuController afterEngine(updates, loginItem, {"1.4.2", "142"}, {"Linux 6", "pc"}, {});
    EXPECT_EQ(splitLines(afterEngine.diagnosticsReport()).size(), 3u) << "the engine is gone";
}

} // namespace
} // namespace orevant
