#include "app/single_instance_check.h"

#include "platform/logger.h"

namespace orevant {

SingleInstanceCheck::Alert SingleInstanceCheck::alreadyRunningAlert(const std::optional<std::string>& otherPath) {
    return Alert{"OREVANT is already running",
                 "Another copy is running from " + (otherPath ? *otherPath : std::string("another location")) + "."};
}

SingleInstanceCheck::Result SingleInstanceCheck::run(const std::string& lockPath, const std::string& executablePath) {
    Result result;
    result.lock = std::make_unique<SingleInstanceLock>(lockPath);
    switch (result.lock->tryAcquire(executablePath)) {
    case SingleInstanceLock::Outcome::acquired:
        break;
    case SingleInstanceLock::Outcome::heldByAnother:
        result.alert = alreadyRunningAlert(result.lock->holderPath());
        result.lock.reset();
        break;
    case SingleInstanceLock::Outcome::unavailable:
        Logger("OREVANTApp")
            .error(strprintf("Single-instance check skipped: cannot open %s: %s", lockPath.c_str(),
                             result.lock->errorText().c_str()));
        break;
    }
    return result;
}

SingleInstanceCheck::Result SingleInstanceCheck::run() {
    return run(SingleInstanceLock::defaultPath(kLockName), SingleInstanceLock::currentExecutablePath());
}

} // namespace orevant
