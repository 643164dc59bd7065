#pragma once
// Where a device ranking is kept: the order under `key`, the armed set under `key` + "Armed",
// both JSON arrays of strings in the defaults store. Main queue.
#include "audio/device_ranking.h"

#include <string>

namespace orevant {

class DefaultsStore;

struct DevicePriorityStore {
    std::string key;
    DefaultsStore* defaults = nullptr;

    std::string armedKey() const { return key + "Armed"; }
    // Absent or unreadable entries give empty lists.
    std::vector<std::string> loadOrder() const;
    std::set<std::string> loadArmed() const;
    DeviceRanking load() const { return DeviceRanking{loadOrder(), loadArmed()}; }
    void saveOrder(const std::vector<std::string>& order) const;
    void saveArmed(const std::set<std::string>& armed) const;
};

} // namespace orevant
