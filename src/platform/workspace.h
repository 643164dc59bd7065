#pragma once
// Running applications and process services of the desktop session. Main queue.
#include <cstdint>
#include <optional>
#include <string>

namespace orevant {

enum class ActivationPolicy {
    regular,    // an ordinary windowed application
    accessory,  // menu-bar or background application with no main window
    prohibited, // background-only process
};

// One running application, as the workspace reports it.
struct RunningApplication {
    int32_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    bool operator==(const RunningApplication&) const = default;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // The running application whose process identifier is `pid`, if any.
    virtual std::optional<RunningApplication> runningApplication(int32_t pid) const = 0;
    // The bundle identifier of this agent itself.
    virtual std::string mainBundleIdentifier() const = 0;
    // Whether the platform can tell which process is responsible for another one.
    virtual bool hasResponsibleProcessLookup() const = 0;
    // The process responsible for `pid` as the platform reports it; values below 1 mean none.
    // Only called when hasResponsibleProcessLookup() is true.
    virtual int32_t responsibleProcess(int32_t pid) const = 0;
};

} // namespace orevant
