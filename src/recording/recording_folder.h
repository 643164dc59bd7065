#pragma once
// Where takes are written: the folder the user chose, kept in the defaults under
// "recordingFolderBookmark" (a data entry holding the folder's absolute path as UTF-8; a
// string entry holding the path is read too), or the default folder "OREVANT" in the user's
// music directory. Main queue only.
#include <filesystem>
#include <optional>
#include <string>

namespace orevant {

class DefaultsStore;

class RecordingFolder {
public:
    static constexpr const char* kBookmarkKey = "recordingFolderBookmark";

    explicit RecordingFolder(DefaultsStore& defaults) : defaults_(defaults) {}

    // The chosen folder, if one is stored and it still exists as a folder we can write into.
    std::optional<std::filesystem::path> resolveChosenFolder() const;
    // <music directory>/OREVANT, created if missing; the documents directory if that fails.
    std::filesystem::path defaultFolder() const;
    // Stores `folder` as the chosen one. False (and the previous choice kept) when it is not an
    // existing folder.
    bool saveBookmark(const std::filesystem::path& folder);
    // The folder a new take goes to: the chosen one, else the default.
    std::filesystem::path takeFolder() const;
    // The path shown in the settings and the diagnostics, "~" standing for the home folder.
    std::string displayFolderPath() const;
    // Where a take would go now, without making any folder (for what the agent says at start).
    std::filesystem::path intendedFolder() const;

    // Why files cannot be made in `folder` (missing, not a folder, not writable), or nothing.
    static std::optional<std::string> unusableReason(const std::filesystem::path& folder);

    // The user's directories: $HOME (else the password database), the XDG music and documents
    // directories ($XDG_MUSIC_DIR / $XDG_DOCUMENTS_DIR, else $XDG_CONFIG_HOME/user-dirs.dirs,
    // else ~/Music and ~/Documents).
    static std::filesystem::path homeDirectory();
    static std::filesystem::path musicDirectory();
    static std::filesystem::path documentsDirectory();

private:
    DefaultsStore& defaults_;
};

} // namespace orevant
