#include "engine/channel_pairing_policy.h"

#include <algorithm>

namespace orevant::ChannelPairingPolicy {

std::string Pair::label() const { return std::to_string(offset + 1) + "/" + std::to_string(offset + 2); }

std::vector<Pair> pairs(int channelCount) {
    std::vector<Pair> result;
    for (int offset = 0; offset < channelCount - 1; offset += 2) result.push_back(Pair{offset});
    return result;
}

std::optional<std::pair<int, int>> validate(int main, int phones, int channelCount) {
    const std::vector<Pair> p = pairs(channelCount);
    if (p.size() < 2) return std::nullopt;
    auto offered = [&](int offset) { return std::find(p.begin(), p.end(), Pair{offset}) != p.end(); };
    const int m = offered(main) ? main : p[0].offset;
    int ph = offered(phones) ? phones : p[1].offset;
    if (m == ph) {
        ph = std::find_if(p.begin(), p.end(), [&](const Pair& pair) { return pair.offset != m; })->offset;
    }
    return std::pair{m, ph};
}

} // namespace orevant::ChannelPairingPolicy
