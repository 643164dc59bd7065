#pragma once
// A control target: the text by which a MIDI mapping, a companion message or a console slot
// names a level or a switch of the mixer. A plain value; any thread.
//
//   "transport:record"   the recording transport (a switch)
//   "cue:" + bundle ID   the PHONES cue of one application (a switch)
//   "bus:main"           MAIN level, the default output device's volume
//   "bus:phones"         PHONES level
//   "system_output"      the default output device's volume
//   "system_input"       the default input device's volume
//   "device:" + UID      the volume of an output device some application is routed to
//   anything else        an application's bundle ID
#include <string>
#include <string_view>

namespace orevant {

struct ControlTarget {
    enum class Kind { none, record, cue, mainBus, phonesBus, systemOutput, systemInput, device, application };

    static constexpr std::string_view kRecord = "transport:record";
    static constexpr std::string_view kCuePrefix = "cue:";
    static constexpr std::string_view kMainBus = "bus:main";
    static constexpr std::string_view kPhonesBus = "bus:phones";
    static constexpr std::string_view kSystemOutput = "system_output";
    static constexpr std::string_view kSystemInput = "system_input";
    static constexpr std::string_view kDevicePrefix = "device:";
    // A switch target acts on a value at or above this and ignores smaller ones, so a button
    // that sends 1 on press and 0 on release toggles once.
    static constexpr float kPressThreshold = 0.5f;

    Kind kind = Kind::none;
    // The bundle ID of a cue or application target, the UID of a device target; else empty.
    std::string name;

    // The empty text names nothing (an unused console strip), nor does "cue:" alone.
    static ControlTarget parse(std::string_view text);
    static bool isPress(float value) { return value >= kPressThreshold; }
    // A MIDI controller value 0...127 as a control value 0...1; values outside are limited.
    static float midiValue(int value);

    bool operator==(const ControlTarget&) const = default;
};

} // namespace orevant
