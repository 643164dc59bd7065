#pragma once
// Which stereo pairs a device offers, and a valid MAIN/PHONES choice among them. Pure
// functions; any thread.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orevant {

namespace ChannelPairingPolicy {

struct Pair {
    int offset = 0; // first channel of the pair, zero-based

    int id() const { return offset; }
    // One-based channel numbers: "1/2", "3/4", ...
    std::string label() const;
    bool operator==(const Pair&) const = default;
};

// Offsets 0, 2, 4, ... while both channels of the pair exist; empty below 2 channels.
std::vector<Pair> pairs(int channelCount);

// The requested offsets where the device offers them, else the first (MAIN) or second (PHONES)
// pair, never both on one pair; nothing when the device offers fewer than two pairs.
std::optional<std::pair<int, int>> validate(int main, int phones, int channelCount);

} // namespace ChannelPairingPolicy

} // namespace orevant

template <>
struct std::hash<orevant::ChannelPairingPolicy::Pair> {
    size_t operator()(const orevant::ChannelPairingPolicy::Pair& pair) const noexcept {
        return std::hash<int>()(pair.offset);
    }
};
