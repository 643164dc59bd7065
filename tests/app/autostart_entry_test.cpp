#include "platform/linux/autostart_entry.h"

#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace orevant {
namespace {

using test::ScopedEnv;

TEST(AutostartEntryTest, TheEntryLivesInTheUsersAutostartFolder) {
    test::TempDir home;
    ScopedEnv homeEnv("HOME", home.path().c_str());
    const std::string cfg = (home.path() / "cfg").string();
    for (const char* config : {static_cast<const char*>(nullptr), cfg.c_str(), "relative/not/allowed"}) {
        ScopedEnv env("XDG_CONFIG_HOME", config);
        const auto folder = config == cfg.c_str() ? home.path() / "cfg" : home.path() / ".config";
        EXPECT_EQ(AutostartEntry::defaultPath(), folder / "autostart" / "orevant.desktop") << (config ? config : "-");
    }
}

TEST(AutostartEntryTest, RegisteringWritesADesktopEntryAndUnregisteringRemovesIt) {
    test::TempDir home;
    const auto file = home.path() / ".config" / "autostart" / "orevant.desktop";
    AutostartEntry entry(file, "/opt/OREVANT/bin/orevant");
    EXPECT_FALSE(entry.isEnabled());
    EXPECT_NO_THROW(entry.unregisterEntry()) << "nothing to remove is no error";

    entry.registerEntry();
    EXPECT_TRUE(entry.isEnabled());
    const std::string text = test::fileText(file);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nName=OREVANT\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/opt/OREVANT/bin/orevant\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));

    entry.registerEntry();
    EXPECT_EQ(test::fileText(file), text) << "registering twice leaves one identical entry";

    entry.unregisterEntry();
    EXPECT_FALSE(entry.isEnabled());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(AutostartEntryTest, AnEntryTheDesktopSwitchedOffCountsAsDisabled) {
    test::TempDir home;
    const auto file = home / "orevant.desktop";
    AutostartEntry entry(file, "/usr/bin/orevant");
    std::ofstream(file) << "[Desktop Entry]\nType=Application\nExec=orevant\nX-GNOME-Autostart-enabled=false\n";
    EXPECT_FALSE(entry.isEnabled());
    std::ofstream(file) << "[Desktop Entry]\nType=Application\nExec=orevant\nHidden=true\n";
    EXPECT_FALSE(entry.isEnabled());
    std::ofstream(file) << "[Desktop Entry]\nExec=orevant\n[Desktop Action x]\nHidden=true\n";
    EXPECT_TRUE(entry.isEnabled()) << "keys of other groups do not count";
}

TEST(AutostartEntryTest, PathsWithSpacesAndSpecialCharactersAreQuotedForTheExecKey) {
    EXPECT_EQ(AutostartEntry::quoteExecArgument("/usr/bin/orevant"), "/usr/bin/orevant");
    EXPECT_EQ(AutostartEntry::quoteExecArgument("/home/a b/orevant"), "\"/home/a b/orevant\"");
    EXPECT_EQ(AutostartEntry::quoteExecArgument("/x/$HOME/\"q\""), "\"/x/\\$HOME/\\\"q\\\"\"");
    EXPECT_EQ(AutostartEntry::quoteExecArgument("/x/100%/o"), "/x/100%%/o");
    const std::string text = AutostartEntry::desktopEntryText("/x/a\\b");
    EXPECT_NE(text.find("\nExec=\"/x/a\\\\\\\\b\"\n"), std::string::npos) << text;
}

TEST(AutostartEntryTest, AnUnwritableFolderThrowsAndLeavesTheStateAsItWas) {
    test::TempDir home;
    std::ofstream(home / "blocker") << "a file where a folder should be";
    AutostartEntry entry(home / "blocker" / "autostart" / "orevant.desktop", "/usr/bin/orevant");
    EXPECT_THROW(entry.registerEntry(), std::system_error);
    EXPECT_FALSE(entry.isEnabled());
}

} // namespace
} // namespace orevant
