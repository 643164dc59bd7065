#pragma once
// RME TotalMix FX: which devices it owns, and the OSC commands that give MAIN and PHONES their
// own hardware outputs. Pure functions; any thread.
#include <string>
#include <vector>

namespace orevant {

class TotalMixOSC {
public:
    struct Command {
        std::string path;
        float value = 0;
        bool operator==(const Command&) const = default;
    };

    TotalMixOSC() = delete;

    // True when the UID starts with "RMEUSBDevice" or the name contains "rme", "babyface" or
    // "fireface" in any case.
    static bool isTotalMixDevice(const std::string& uid, const std::string& name);

    // Eight commands: in the submix of the PHONES outputs the MAIN playback pair is silenced and
    // the PHONES pair set to 0.82; in the submix of the MAIN outputs the reverse. Offsets are
    // zero-based output channels; each pair is offset / 2.
    static std::vector<Command> defaultRouting(int mainOffset, int phonesOffset);
};

} // namespace orevant
