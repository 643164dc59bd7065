#pragma once
// Pure rules that turn what Linux shows about a process into the application the mixer lists:
// the desktop ID of the systemd scope a desktop launched it in, the fields of a desktop entry,
// a Flatpak sandbox's application ID, and the order in which these name the application. No
// file access: LinuxWorkspace reads the files, these functions read their text. Any thread.
#include <optional>
#include <string>

namespace orevant {

struct DesktopEntry {
    std::string name; // Name, localised where the entry has the user's language
    std::string icon;
    bool noDisplay = false;
    bool operator==(const DesktopEntry&) const = default;
};

// What is known of one process, each part optional.
struct ProcessHints {
    std::optional<std::string> scopeDesktopID; // from its systemd scope or service
    std::optional<std::string> applicationID;  // declared to the audio server (application.id)
    std::optional<std::string> flatpakID;      // the Flatpak sandbox's application
    std::optional<std::string> binary;         // file name of its executable
};

class DesktopApplicationInfo {
public:
    // The desktop ID of the application whose systemd scope or service holds a process, from
    // the text of /proc/PID/cgroup: units named app[-<launcher>]-<ID>-<random>.scope or
    // app[-<launcher>]-<ID>[@<random>].service, "\x2d" standing for '-' in the ID. None for a
    // process outside such a unit (a terminal's children, system services).
    static std::optional<std::string> desktopIDFromCGroup(const std::string& cgroupText);
    // The unit path the scope lives at (for reading its other processes), same rules.
    static std::optional<std::string> appUnitPathFromCGroup(const std::string& cgroupText);
    // [Desktop Entry] of a .desktop file; Name[<language>] wins over Name for `language`
    // ("de_DE" matches Name[de_DE], then Name[de]). None when the file has no such group or no name.
    static std::optional<DesktopEntry> parseDesktopEntry(const std::string& text, const std::string& language);
    // The [Application] name of a Flatpak sandbox's /.flatpak-info.
    static std::optional<std::string> flatpakIDFromInfo(const std::string& text);
    // The bundle ID: the scope's desktop ID, else the application ID, else the Flatpak ID, else
    // the binary; empty when nothing is known.
    static std::string bundleID(const ProcessHints& hints);
};

} // namespace orevant
