#pragma once
// A scenario-defined workspace of running applications. Any thread (guarded by a mutex).
#include "platform/workspace.h"

#include <map>
#include <mutex>

namespace orevant {

struct SimApplication {
    RunningApplication application;
    // Process responsible for this one, when another; 0: itself.
    int32_t responsiblePID = 0;
};

class SimWorkspace final : public Workspace {
public:
    explicit SimWorkspace(std::string mainBundleIdentifier = "com.brenlake.orevant");

    std::optional<RunningApplication> runningApplication(int32_t pid) const override;
    std::string mainBundleIdentifier() const override;
    bool hasResponsibleProcessLookup() const override;
    int32_t responsibleProcess(int32_t pid) const override;

    // Adds or replaces the application with that process identifier.
    void addApplication(const SimApplication& app);
    void removeApplication(int32_t pid);
    void setMainBundleIdentifier(std::string bundleID);
    // What the responsible-process lookup answers for `pid` (which need not be an application:
    // helpers and renderers usually are not). Without an entry a process is its own.
    void setResponsibleProcess(int32_t pid, int32_t responsible);
    // Simulates a platform without the responsible-process lookup.
    void setHasResponsibleProcessLookup(bool has);

private:
    mutable std::mutex mutex_;
    std::string mainBundleIdentifier_;
    bool hasLookup_ = true;
    std::map<int32_t, RunningApplication> apps_;
    std::map<int32_t, int32_t> responsible_;
};

} // namespace orevant
