#include "audio/device_priority_store.h"

#include "persistence/json_defaults.h"

namespace orevant {

std::vector<std::string> DevicePriorityStore::loadOrder() const {
    return JSONDefaults::load<std::vector<std::string>>(key, *defaults).value_or(std::vector<std::string>{});
}

std::set<std::string> DevicePriorityStore::loadArmed() const {
    auto list = JSONDefaults::load<std::vector<std::string>>(armedKey(), *defaults);
    if (!list) return {};
    return std::set<std::string>(list->begin(), list->end());
}

void DevicePriorityStore::saveOrder(const std::vector<std::string>& order) const {
    JSONDefaults::save(order, key, *defaults);
}

void DevicePriorityStore::saveArmed(const std::set<std::string>& armed) const {
    JSONDefaults::save(std::vector<std::string>(armed.begin(), armed.end()), armedKey(), *defaults);
}

} // namespace orevant
