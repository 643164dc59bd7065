#include "audio/device_ranking.h"

#include "audio/localized_compare.h"

#include <algorithm>

namespace orevant {

std::optional<size_t> DeviceRanking::rank(const std::string& uid) const {
    auto it = std::find(order.begin(), order.end(), uid);
    if (it == order.end()) return std::nullopt;
    return static_cast<size_t>(it - order.begin());
}

bool DeviceRanking::before(const AudioDevice& a, const AudioDevice& b) const {
    const auto ra = rank(a.uid);
    const auto rb = rank(b.uid);
    if (ra && rb && *ra != *rb) return *ra < *rb;
    if (ra.has_value() != rb.has_value()) return ra.has_value();
    return localizedCaseInsensitiveLess(a.name, b.name);
}

void DeviceRanking::sort(std::vector<AudioDevice>& devices) const {
    std::stable_sort(devices.begin(), devices.end(),
                     [this](const AudioDevice& a, const AudioDevice& b) { return before(a, b); });
}

std::vector<std::string> DeviceRanking::merge(const std::vector<std::string>& order,
                                              const std::vector<std::string>& visible) {
    // A UID listed twice in `visible` would otherwise be written twice and push another out.
    std::vector<std::string> unique;
    for (const std::string& uid : visible)
        if (std::find(unique.begin(), unique.end(), uid) == unique.end()) unique.push_back(uid);
    return mergeUnique(order, unique);
}

std::vector<std::string> DeviceRanking::mergeUnique(const std::vector<std::string>& order,
                                                    const std::vector<std::string>& visible) {
    std::vector<std::string> result = order;
    for (const std::string& uid : visible)
        if (std::find(result.begin(), result.end(), uid) == result.end()) result.push_back(uid);
    size_t next = 0;
    for (std::string& slot : result) {
        if (next == visible.size()) break;
        if (std::find(visible.begin(), visible.end(), slot) != visible.end()) slot = visible[next++];
    }
    return result;
}

} // namespace orevant
