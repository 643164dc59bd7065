#include "platform/sim/sim_workspace.h"

namespace orevant {

SimWorkspace::SimWorkspace(std::string mainBundleIdentifier) : mainBundleIdentifier_(std::move(mainBundleIdentifier)) {}

std::optional<RunningApplication> SimWorkspace::runningApplication(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto it = apps_.find(pid);
    if (it == apps_.end()) return std::nullopt;
    return it->second;
}

std::string SimWorkspace::mainBundleIdentifier() const {
    std::lock_guard lock(mutex_);
    return mainBundleIdentifier_;
}

bool SimWorkspace::hasResponsibleProcessLookup() const {
    std::lock_guard lock(mutex_);
    return hasLookup_;
}

int32_t SimWorkspace::responsibleProcess(int32_t pid) const {
    std::lock_guard lock(mutex_);
    auto it = responsible_.find(pid);
    return it == responsible_.end() ? pid : it->second;
}

void SimWorkspace::addApplication(const SimApplication& app) {
    std::lock_guard lock(mutex_);
    const int32_t pid = app.application.processIdentifier;
    apps_[pid] = app.application;
    if (app.responsiblePID != 0) responsible_[pid] = app.responsiblePID;
}

void SimWorkspace::removeApplication(int32_t pid) {
    std::lock_guard lock(mutex_);
    apps_.erase(pid);
}

void SimWorkspace::setMainBundleIdentifier(std::string bundleID) {
    std::lock_guard lock(mutex_);
    mainBundleIdentifier_ = std::move(bundleID);
}

void SimWorkspace::setResponsibleProcess(int32_t pid, int32_t responsible) {
    std::lock_guard lock(mutex_);
    responsible_[pid] = responsible;
}

void SimWorkspace::setHasResponsibleProcessLookup(bool has) {
    std::lock_guard lock(mutex_);
    hasLookup_ = has;
}

} // namespace orevant
