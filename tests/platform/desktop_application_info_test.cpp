#include "platform/linux/desktop_application_info.h"
#include "platform/linux/linux_workspace.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace orevant;

TEST(DesktopApplicationInfoTest, DesktopIDsOfSystemdApplicationUnits) {
    const std::string apps = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {apps + "app-gnome-org.mozilla.firefox-4821.scope\n", "org.mozilla.firefox"},
        {apps + "app-org.gnome.Terminal-77.scope\n", "org.gnome.Terminal"},
        {apps + "app-flatpak-com.spotify.Client-1234.scope\n", "com.spotify.Client"},
        {apps + "app-gnome-org.gnome.Nautilus@3f2a.service\n", "org.gnome.Nautilus"},
        {apps + "app-KDE-my\\x2dplayer-99.scope\n", "my-player"},
        {apps + "app-gnome-org.mozilla.firefox-4821.scope/tab\n", "org.mozilla.firefox"}, // inside the scope
        // A terminal's child, a system service, nothing at all: no desktop ID.
        {apps + "vte-spawn-0a1b.scope\n", std::nullopt},
        {"0::/system.slice/cron.service\n", std::nullopt},
        {"", std::nullopt},
        {"garbage without colons", std::nullopt},
    };
    for (const auto& [cgroup, id] : cases) EXPECT_EQ(DesktopApplicationInfo::desktopIDFromCGroup(cgroup), id) << cgroup;
    EXPECT_EQ(DesktopApplicationInfo::appUnitPathFromCGroup(cases[0].first),
              apps.substr(3) + "app-gnome-org.mozilla.firefox-4821.scope");
}

TEST(DesktopApplicationInfoTest, DesktopEntriesFlatpakInfoAndTheBundleIDOrder) {
    const std::string entry = "# comment\n[Desktop Entry]\nType=Application\nName=Web Browser\nName[de]=Webbrowser\n"
                              "Name[fr_FR]=Navigateur\nIcon=firefox\n[Desktop Action new]\nName=New Window\n";
    EXPECT_EQ(DesktopApplicationInfo::parseDesktopEntry(entry, "en_US"),
              (DesktopEntry{"Web Browser", "firefox", false}));
    EXPECT_EQ(DesktopApplicationInfo::parseDesktopEntry(entry, "de_AT")->name, "Webbrowser");
    EXPECT_EQ(DesktopApplicationInfo::parseDesktopEntry(entry, "fr_FR")->name, "Navigateur");
    EXPECT_TRUE(
        DesktopApplicationInfo::parseDesktopEntry("[Desktop Entry]\nName=Tray\nNoDisplay=true\n", "")->noDisplay);
    EXPECT_FALSE(DesktopApplicationInfo::parseDesktopEntry("[Other]\nName=X\n", ""));
    EXPECT_FALSE(DesktopApplicationInfo::parseDesktopEntry("[Desktop Entry]\nIcon=x\n", ""));

    EXPECT_EQ(DesktopApplicationInfo::flatpakIDFromInfo("[Application]\nname=org.videolan.VLC\nruntime=x\n"),
              "org.videolan.VLC");
    EXPECT_FALSE(DesktopApplicationInfo::flatpakIDFromInfo("[Instance]\nname=nope\n"));

    ProcessHints all{"org.mozilla.firefox", "firefox-declared", "org.mozilla.firefox.flatpak", "firefox-bin"};
    EXPECT_EQ(DesktopApplicationInfo::bundleID(all), "org.mozilla.firefox");
    all.scopeDesktopID.reset();
    EXPECT_EQ(DesktopApplicationInfo::bundleID(all), "firefox-declared");
    all.applicationID.reset();
    EXPECT_EQ(DesktopApplicationInfo::bundleID(all), "org.mozilla.firefox.flatpak");
    all.flatpakID.reset();
    EXPECT_EQ(DesktopApplicationInfo::bundleID(all), "firefox-bin");
    EXPECT_EQ(DesktopApplicationInfo::bundleID(ProcessHints{}), "");
}

namespace {
// A /proc, a cgroup tree and an applications folder written by hand.
struct FakeSystem {
    test::TempDir dir;
    void file(const std::string& path, const std::string& text) {
        std::filesystem::create_directories((dir.path() / path).parent_path());
        std::ofstream(dir.path() / path) << text;
    }
    // A process: its parent, start time, command name and cgroup line.
    void process(int pid, int ppid, int started, const std::string& comm, const std::string& cgroup) {
        file("proc/" + std::to_string(pid) + "/stat", std::to_string(pid) + " (" + comm + ") S " +
                                                          std::to_string(ppid) + " 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 " +
                                                          std::to_string(started) + " 0 0\n");
        file("proc/" + std::to_string(pid) + "/comm", comm + "\n");
        file("proc/" + std::to_string(pid) + "/cgroup", "0::" + cgroup + "\n");
    }
    LinuxWorkspace workspace(LinuxWorkspace::ApplicationIDLookup lookup = {}) {
        LinuxWorkspace::Paths paths;
        paths.proc = (dir.path() / "proc").string();
        paths.cgroupRoot = (dir.path() / "cgroup").string();
        paths.applicationDirs = {(dir.path() / "applications").string()};
        return LinuxWorkspace("com.brenlake.orevant", std::move(lookup), paths);
    }
};
} // namespace

TEST(LinuxWorkspaceTest, NamesGroupsAndClassifiesProcessesOfADesktop) {
    FakeSystem sys;
    const std::string scope = "/user.slice/app.slice/app-gnome-org.mozilla.firefox-10.scope";
    sys.process(100, 50, 1000, "firefox", scope);
    sys.process(101, 100, 1200, "Web Content", scope); // a renderer in the browser's scope
    sys.file("cgroup" + scope + "/cgroup.procs", "101\n100\n");
    sys.file("applications/org.mozilla.firefox.desktop", "[Desktop Entry]\nName=Firefox\nIcon=firefox\n");
    // Two programs started from one shell, and a helper the player forked.
    const std::string shell = "/user.slice/app.slice/vte-spawn-1.scope";
    sys.process(200, 199, 5, "bash", shell);
    sys.process(201, 200, 6, "mpv", shell);
    sys.process(202, 201, 7, "mpv", shell);
    sys.process(203, 200, 8, "pw-play", shell);
    const auto workspace = sys.workspace([](int32_t pid) -> std::optional<std::string> {
        if (pid == 203) return "org.example.Tone";
        return std::nullopt;
    });

    auto browser = workspace.runningApplication(101);
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->bundleIdentifier, "org.mozilla.firefox");
    EXPECT_EQ(browser->localizedName, "Firefox");
    EXPECT_EQ(browser->activationPolicy, ActivationPolicy::regular);
    EXPECT_EQ(workspace.responsibleProcess(101), 100);
    EXPECT_EQ(workspace.iconName(100), "firefox");

    auto player = workspace.runningApplication(202);
    ASSERT_TRUE(player);
    EXPECT_EQ(player->bundleIdentifier, "mpv");
    EXPECT_FALSE(player->localizedName);
    EXPECT_EQ(player->activationPolicy, ActivationPolicy::accessory);
    EXPECT_EQ(workspace.responsibleProcess(202), 201); // up to the parent running mpv, not the shell
    EXPECT_EQ(workspace.responsibleProcess(203), 203); // pw-play is not the shell's helper
    EXPECT_EQ(workspace.runningApplication(203)->bundleIdentifier, "org.example.Tone");

    // A pid this system cannot see is known only by what it declared.
    EXPECT_FALSE(workspace.runningApplication(999));
    EXPECT_EQ(sys.workspace([](int32_t) { return std::optional<std::string>("org.sandboxed.App"); })
                  .runningApplication(999)
                  ->bundleIdentifier,
              "org.sandboxed.App");
}
