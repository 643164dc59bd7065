#pragma once
// "Launch at Login" on a Linux desktop: an XDG autostart entry, orevant.desktop in the user's
// autostart folder. Registered means the entry exists and is not hidden or switched off.
// Main thread only.
#include <filesystem>
#include <string>

namespace orevant {

class AutostartEntry {
public:
    // `file` is the entry's path; `executablePath` is what the entry starts.
    AutostartEntry(std::filesystem::path file, std::string executablePath);

    // $XDG_CONFIG_HOME/autostart/orevant.desktop when XDG_CONFIG_HOME is an absolute path, else
    // $HOME/.config/autostart/orevant.desktop.
    static std::filesystem::path defaultPath();

    bool isEnabled() const;
    // Writes the entry (folder made as needed, replaced atomically). Throws std::system_error.
    void registerEntry() const;
    // Removes the entry; nothing to do when there is none. Throws std::system_error.
    void unregisterEntry() const;

    // The entry's text for an executable path.
    static std::string desktopEntryText(const std::string& executablePath);
    // One argument quoted as the desktop entry format's Exec key wants it.
    static std::string quoteExecArgument(const std::string& argument);

    const std::filesystem::path& path() const { return file_; }

private:
    std::filesystem::path file_;
    std::string executablePath_;
};

} // namespace orevant
