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

namespace {

std::string trimmed(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto first = std::find_if_not(s.begin(), s.end(), blank);
    const auto last = std::find_if_not(s.rbegin(), s.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

} // namespace

std::string takeFileName(const std::string& stamp, const std::string& sourceName) {
    std::string s = sourceName;
    std::replace(s.begin(), s.end(), '/', '-');
    std::replace(s.begin(), s.end(), ':', '-');
    s = trimmed(s);
    // A NUL would end the name early (losing ".wav"); a newline or tab has no place in a file name.
    for (char& c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) c = '-';
    }
    if (s.empty()) s = "Source";
    const std::string prefix = "OREVANT " + stamp + " ";
    const std::string suffix = ".wav";
    const size_t room = kMaxTakeFileNameBytes > prefix.size() + suffix.size() + 1
                            ? kMaxTakeFileNameBytes - prefix.size() - suffix.size()
                            : 1;
    if (s.size() > room) {
        size_t cut = room;
        // Never split a character: back up to the first byte of the one that does not fit.
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s = trimmed(s.substr(0, cut));
        if (s.empty()) s = "Source";
    }
    return prefix + s + suffix;
}

} // namespace orevant
