#pragma once
// The running applications of a Linux desktop, from /proc, the systemd scopes a desktop starts
// applications in, and the desktop entries of the XDG data folders:
// - the bundle ID is the scope's desktop ID, else the application ID the process declared to
//   the audio server, else its Flatpak application ID, else its executable's name;
// - the name is the desktop entry's; a process with a desktop entry is a regular application,
//   one without an accessory one (listed only while it plays or records);
// - a helper belongs to the process that leads its application scope, else to its parent for
//   as long as the parent runs the same executable (unrelated programs started from one shell
//   stay apart).
// Every file read is bounded.
//
// Threads: any thread (no state but what construction fixed).
#include "platform/workspace.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class LinuxWorkspace final : public Workspace {
public:
    struct Paths {
        std::string proc = "/proc";
        std::string cgroupRoot = "/sys/fs/cgroup";
        std::vector<std::string> applicationDirs; // folders holding .desktop files
    };
    // The application ID a process declared to the audio server, if any.
    using ApplicationIDLookup = std::function<std::optional<std::string>(int32_t pid)>;

    static Paths defaultPaths(); // $XDG_DATA_HOME and $XDG_DATA_DIRS, each with /applications
    LinuxWorkspace(std::string mainBundleIdentifier, ApplicationIDLookup applicationID = {},
                   Paths paths = defaultPaths());

    std::optional<RunningApplication> runningApplication(int32_t pid) const override;
    std::string mainBundleIdentifier() const override { return mainBundleIdentifier_; }
    bool hasResponsibleProcessLookup() const override { return true; }
    int32_t responsibleProcess(int32_t pid) const override;

    // The icon name of the application's desktop entry, if it has one.
    std::optional<std::string> iconName(int32_t pid) const;

private:
    std::optional<std::string> readFile(const std::string& path) const;
    std::optional<std::string> executable(int32_t pid) const;
    std::optional<int32_t> parent(int32_t pid) const;
    std::optional<unsigned long long> startTime(int32_t pid) const;
    std::optional<std::string> desktopEntryText(const std::string& desktopID) const;
    std::string language() const;

    std::string mainBundleIdentifier_;
    ApplicationIDLookup applicationID_;
    Paths paths_;
};

} // namespace orevant
