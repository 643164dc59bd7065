#include "recording/recording_folder.h"

#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "recording_test_support.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace orevant {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

// A home directory of our own, with no XDG settings from the machine.
class RecordingFolderTest : public ::testing::Test {
protected:
    void writeUserDirs(const std::string& text) {
        fs::create_directories(home / ".config");
        std::ofstream(home / ".config" / "user-dirs.dirs") << text;
    }

    TempDir dir;
    fs::path home = dir / "home";
    ScopedEnv homeEnv{"HOME", home.c_str()};
    ScopedEnv configEnv{"XDG_CONFIG_HOME", nullptr};
    ScopedEnv musicEnv{"XDG_MUSIC_DIR", nullptr};
    ScopedEnv documentsEnv{"XDG_DOCUMENTS_DIR", nullptr};
    InMemoryDefaultsStore defaults;
    RecordingFolder folder{defaults};
    ScopedLogCapture logs;
};

TEST_F(RecordingFolderTest, WithoutAChoiceTakesGoToMusicOrevantWhichIsCreated) {
    fs::create_directories(home);
    EXPECT_FALSE(folder.resolveChosenFolder());
    EXPECT_FALSE(logs->contains("cannot be used")) << "no choice is not an error";
    EXPECT_EQ(folder.takeFolder(), home / "Music" / "OREVANT");
    EXPECT_TRUE(fs::is_directory(home / "Music" / "OREVANT"));
    EXPECT_EQ(folder.displayFolderPath(), "~/Music/OREVANT") << "the home folder is shown as ~";
}

TEST_F(RecordingFolderTest, TheXdgMusicDirectoryIsFollowed) {
    writeUserDirs(
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    EXPECT_EQ(folder.defaultFolder(), home / "Tunes" / "OREVANT");
    EXPECT_TRUE(fs::is_directory(home / "Tunes" / "OREVANT"));

    // An absolute path, read from a config home elsewhere.
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
    fs::create_directories(dir / "config");
    std::ofstream(dir / "config" / "user-dirs.dirs") << "XDG_MUSIC_DIR=\"" << (dir / "audio").string() << "\"\n";
    EXPECT_EQ(folder.defaultFolder(), dir / "audio" / "OREVANT");

    // A music directory set to the home itself means none: ~/Music.
    std::ofstream(dir / "config" / "user-dirs.dirs") << "XDG_MUSIC_DIR=\"$HOME/\"\n";
    EXPECT_EQ(folder.defaultFolder(), home / "Music" / "OREVANT");

    // The environment wins over the file.
    ScopedEnv music("XDG_MUSIC_DIR", (dir / "env-music").c_str());
    EXPECT_EQ(folder.defaultFolder(), dir / "env-music" / "OREVANT");
}

TEST_F(RecordingFolderTest, WhenTheMusicFolderCannotBeMadeTheDocumentsDirectoryIsUsed) {
    fs::create_directories(home);
    std::ofstream(home / "Music") << "a file, not a folder";
    EXPECT_EQ(folder.defaultFolder(), home / "Documents");
    EXPECT_TRUE(fs::is_directory(home / "Documents"));
}

TEST_F(RecordingFolderTest, AChosenFolderIsStoredAsItsPathKeptOverBadChoicesAndUsedWhileItExists) {
    const fs::path chosen = dir / "takes";
    fs::create_directories(chosen);
    ASSERT_TRUE(folder.saveBookmark(chosen));
    // A missing folder or a plain file cannot be chosen: the previous choice stays.
    std::ofstream(dir / "plain-file") << "x";
    EXPECT_FALSE(folder.saveBookmark(dir / "never-made"));
    EXPECT_FALSE(folder.saveBookmark(dir / "plain-file"));
    EXPECT_EQ(logs->count("Could not remember the chosen recording folder", LogLevel::error), 2u);
    const auto stored = defaults.data(RecordingFolder::kBookmarkKey);
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::string(stored->begin(), stored->end()), chosen.string());
    EXPECT_EQ(folder.resolveChosenFolder(), chosen);
    EXPECT_EQ(folder.takeFolder(), chosen);
    EXPECT_FALSE(fs::exists(home / "Music")) << "the default folder is not made when a choice is in use";

    // A folder that is gone: logged, the default is used, and the stored choice stays.
    fs::remove(chosen);
    EXPECT_FALSE(folder.resolveChosenFolder());
    EXPECT_EQ(logs->count("The chosen recording folder cannot be used; using the default folder", LogLevel::error), 1u);
    EXPECT_EQ(folder.takeFolder(), home / "Music" / "OREVANT");
    EXPECT_EQ(defaults.data(RecordingFolder::kBookmarkKey), stored);

    // A path stored as a string, as older settings may hold it, is read too.
    defaults.set(RecordingFolder::kBookmarkKey, dir.path().string());
    EXPECT_EQ(folder.resolveChosenFolder(), dir.path());
    // Something that is not a folder path at all.
    defaults.set(RecordingFolder::kBookmarkKey, DefaultsData{0x62, 0x6f, 0x6f, 0x6b});
    EXPECT_FALSE(folder.resolveChosenFolder());
}

} // namespace
} // namespace orevant
