#pragma once
// A companion bridge that only counts what the engine asks of it, for tests of the engine
// operations that must (or must not) refresh the phone's view. Main queue only.
#include "engine/companion_bridge.h"

#include <map>
#include <string>
#include <vector>

namespace orevant::test {

class CountingCompanionBridge final : public CompanionBridge {
public:
    void sendAppList() override { ++appLists; }
    void scheduleAppListSend() override { ++scheduledAppLists; }
    void sendMeters(const std::map<std::string, float>& levels) override { meterFrames.push_back(levels); }

    int appLists = 0;
    int scheduledAppLists = 0;
    std::vector<std::map<std::string, float>> meterFrames;
};

} // namespace orevant::test
