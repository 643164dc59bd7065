#pragma once
// The single-instance rule at start-up: the first copy takes the lock and runs; a second copy
// learns where the first runs from, tells the user, and ends with status 0. Main thread only.
#include "platform/linux/single_instance_lock.h"

#include <memory>
#include <optional>
#include <string>

namespace orevant {

class SingleInstanceCheck {
public:
    static constexpr const char* kLockName = "com.brenlake.orevant";

    struct Alert {
        std::string messageText;
        std::string informativeText;
    };

    // "OREVANT is already running" / "Another copy is running from <path>." (or "another
    // location" when the other copy's path is unknown).
    static Alert alreadyRunningAlert(const std::optional<std::string>& otherPath);

    struct Result {
        // Held for the life of the process when this copy may run (or not held at all when the
        // lock could not be made: the check is then skipped, as without a bundle identifier).
        std::unique_ptr<SingleInstanceLock> lock;
        // Set when another copy runs: this process shows it and ends.
        std::optional<Alert> alert;
    };
    static Result run(const std::string& lockPath, const std::string& executablePath);
    // With the default lock path and this process's executable.
    static Result run();
};

} // namespace orevant
