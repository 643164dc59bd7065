#pragma once
// The phone companion's side of the OSC link, for the command-line companion: the messages it
// sends (each address carrying the pairing PIN) and the reading of the documents the agent sends
// back. Pure functions; any thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orevant {

struct CompanionMessage {
    std::string address; // with the PIN part: "/a/123456/panic"
    float value = 0;
    bool operator==(const CompanionMessage&) const = default;
};

class CompanionCommand {
public:
    // Each throws std::invalid_argument with a message for a person when an argument is bad.
    static CompanionMessage volume(const std::string& pin, const std::string& target, const std::string& level);
    static CompanionMessage cue(const std::string& pin, const std::string& bundleID, const std::string& onOff);
    static CompanionMessage cueVolume(const std::string& pin, const std::string& bundleID, const std::string& level);
    static CompanionMessage slot(const std::string& pin, int slot, const std::string& target);
    static CompanionMessage panic(const std::string& pin, const std::string& onOff);
    static CompanionMessage record(const std::string& pin, const std::string& onOff);
    static CompanionMessage recallScene(const std::string& pin, int index);
    static CompanionMessage saveScene(const std::string& pin);
    static CompanionMessage control(const std::string& pin, int number, const std::string& level);
    // An admitted message that asks for nothing: it makes this host the phone, and the agent
    // answers with its application list.
    static CompanionMessage hello(const std::string& pin);

    // The six digits the agent shows; anything else is refused before it costs a bad-PIN strike.
    static void checkPIN(const std::string& pin);
    // "0.5", "50%" -> 0.5. Numbers outside 0...1 are refused rather than silently clamped.
    static float parseLevel(const std::string& text);
    // "on"/"off", "1"/"0", "true"/"false", "yes"/"no".
    static bool parseOnOff(const std::string& text);

    // A received message with one string argument: address and text. Nothing for anything else.
    struct StringMessage {
        std::string address;
        std::string text;
    };
    static std::optional<StringMessage> decodeStringMessage(const uint8_t* data, size_t size);
};

} // namespace orevant
