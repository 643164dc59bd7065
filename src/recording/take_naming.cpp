#include "recording/take_naming.h"

#include <algorithm>
#include <ctime>

namespace orevant {

std::string makeTakeStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H.%M.%S", &local);
    return std::string(text, length);
}

std::string takeFileName(const std::string& stamp, const std::string& sourceName) {
    std::string s = sourceName;
    std::replace(s.begin(), s.end(), '/', '-');
    std::replace(s.begin(), s.end(), ':', '-');
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto first = std::find_if_not(s.begin(), s.end(), blank);
    const auto last = std::find_if_not(s.rbegin(), s.rend(), blank).base();
    s = first < last ? std::string(first, last) : std::string();
    if (s.empty()) s = "Source";
    return "OREVANT " + stamp + " " + s + ".wav";
}

} // namespace orevant
