#include "engine/control_target.h"

#include <algorithm>

namespace orevant {

ControlTarget ControlTarget::parse(std::string_view text) {
    if (text.empty()) return {};
    if (text == kRecord) return {Kind::record, {}};
    if (text.starts_with(kCuePrefix)) {
        // A cue of no application would only leave a nameless setting behind.
        if (text.size() == kCuePrefix.size()) return {};
        return {Kind::cue, std::string(text.substr(kCuePrefix.size()))};
    }
    if (text == kMainBus) return {Kind::mainBus, {}};
    if (text == kPhonesBus) return {Kind::phonesBus, {}};
    if (text == kSystemOutput) return {Kind::systemOutput, {}};
    if (text == kSystemInput) return {Kind::systemInput, {}};
    if (text.starts_with(kDevicePrefix)) return {Kind::device, std::string(text.substr(kDevicePrefix.size()))};
    return {Kind::application, std::string(text)};
}

float ControlTarget::midiValue(int value) { return static_cast<float>(std::clamp(value, 0, 127)) / 127.0f; }

} // namespace orevant
