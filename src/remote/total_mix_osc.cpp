#include "remote/total_mix_osc.h"

#include <algorithm>

namespace orevant {

namespace {

char lowerASCII(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool containsIgnoringCase(const std::string& text, const std::string& needle) {
    const auto found = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                   [](char a, char b) { return lowerASCII(a) == lowerASCII(b); });
    return found != text.end();
}

} // namespace

bool TotalMixOSC::isTotalMixDevice(const std::string& uid, const std::string& name) {
    if (uid.rfind("RMEUSBDevice", 0) == 0) return true;
    return containsIgnoringCase(name, "rme") || containsIgnoringCase(name, "babyface") ||
           containsIgnoringCase(name, "fireface");
}

std::vector<TotalMixOSC::Command> TotalMixOSC::defaultRouting(int mainOffset, int phonesOffset) {
    const int m = mainOffset / 2;
    const int p = phonesOffset / 2;
    const std::string mainVolume = "/1/volume" + std::to_string(m + 1);
    const std::string phonesVolume = "/1/volume" + std::to_string(p + 1);
    return {
        {"/setSubmix", static_cast<float>(p)}, {"/1/busPlayback", 1.0f}, {mainVolume, 0.0f},  {phonesVolume, 0.82f},
        {"/setSubmix", static_cast<float>(m)}, {"/1/busPlayback", 1.0f}, {mainVolume, 0.82f}, {phonesVolume, 0.0f},
    };
}

} // namespace orevant
