#pragma once
// The user's device priority: an order of UIDs (most preferred first) and the armed UIDs that
// may be switched to automatically. Plain value; pure functions; any thread.
#include "audio/audio_device.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orevant {

struct DeviceRanking {
    std::vector<std::string> order;
    std::set<std::string> armed;

    // Index of `uid` in `order`, or nothing when unranked.
    std::optional<size_t> rank(const std::string& uid) const;
    bool isArmed(const std::string& uid) const { return armed.count(uid) > 0; }
    // Priority comparator: ranked before unranked, lower rank first, else by name ignoring case.
    bool before(const AudioDevice& a, const AudioDevice& b) const;
    void sort(std::vector<AudioDevice>& devices) const;

    // Writes `visible` in its order into the positions of `order` that hold visible UIDs (new
    // UIDs appended first); UIDs not visible keep their positions.
    static std::vector<std::string> merge(const std::vector<std::string>& order,
                                          const std::vector<std::string>& visible);

    bool operator==(const DeviceRanking&) const = default;

private:
    static std::vector<std::string> mergeUnique(const std::vector<std::string>& order,
                                                const std::vector<std::string>& visible);
};

} // namespace orevant
