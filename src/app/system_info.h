#pragma once
// What the diagnostics report says about the computer: the operating system and the hardware.
// Any thread (reads files under /etc, /sys and uname).
#include <string>

namespace orevant {

struct SystemInfo {
    // "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))"
    std::string operatingSystem;
    // The DMI product name ("ThinkPad X1 Carbon Gen 9"), else the machine architecture.
    std::string hardwareModel;

    static SystemInfo current();
    // The PRETTY_NAME of an os-release text (or NAME and VERSION); empty when it has neither.
    static std::string prettyName(const std::string& osReleaseText);
};

} // namespace orevant
