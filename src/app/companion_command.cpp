#include "app/companion_command.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace orevant {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

CompanionMessage message(const std::string& pin, const std::string& path, float value) {
    CompanionCommand::checkPIN(pin);
    return CompanionMessage{"/a/" + pin + path, value};
}

void checkName(const std::string& what, const std::string& name) {
    if (name.empty()) throw std::invalid_argument(what + " must not be empty");
}

// Padded OSC string at `offset`: its text, and the offset after its padding.
std::optional<std::pair<std::string, size_t>> readPadded(const uint8_t* data, size_t size, size_t offset) {
    if (offset >= size) return std::nullopt;
    size_t end = offset;
    while (end < size && data[end] != 0) ++end;
    if (end == size) return std::nullopt;
    const size_t length = end - offset;
    const size_t next = offset + length + 4 - (length % 4);
    if (next > size) return std::nullopt; // padding cut off: a truncated datagram
    return std::make_pair(std::string(reinterpret_cast<const char*>(data + offset), length), next);
}

} // namespace

void CompanionCommand::checkPIN(const std::string& pin) {
    bool digits = pin.size() == 6;
    for (char c : pin) digits = digits && c >= '0' && c <= '9';
    if (!digits) throw std::invalid_argument("the PIN is the six digits the agent shows");
}

float CompanionCommand::parseLevel(const std::string& text) {
    std::string number = text;
    double scale = 1.0;
    if (!number.empty() && number.back() == '%') {
        number.pop_back();
        scale = 100.0;
    }
    char* end = nullptr;
    const double value = number.empty() ? NAN : std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(value)) {
        throw std::invalid_argument("'" + text + "' is not a level (a number from 0 to 1, or a percentage)");
    }
    const double level = value / scale;
    if (level < 0.0 || level > 1.0) throw std::invalid_argument("'" + text + "' is outside 0...1 (0%...100%)");
    return static_cast<float>(level);
}

bool CompanionCommand::parseOnOff(const std::string& text) {
    const std::string word = lower(text);
    if (word == "on" || word == "1" || word == "true" || word == "yes") return true;
    if (word == "off" || word == "0" || word == "false" || word == "no") return false;
    throw std::invalid_argument("'" + text + "' is neither on nor off");
}

CompanionMessage CompanionCommand::volume(const std::string& pin, const std::string& target, const std::string& level) {
    checkName("the target", target);
    return message(pin, "/volume/" + target, parseLevel(level));
}

CompanionMessage CompanionCommand::cue(const std::string& pin, const std::string& bundleID, const std::string& onOff) {
    checkName("the application", bundleID);
    return message(pin, "/cue/" + bundleID, parseOnOff(onOff) ? 1.0f : 0.0f);
}

CompanionMessage CompanionCommand::cueVolume(const std::string& pin, const std::string& bundleID,
                                             const std::string& level) {
    checkName("the application", bundleID);
    return message(pin, "/cuevolume/" + bundleID, parseLevel(level));
}

CompanionMessage CompanionCommand::slot(const std::string& pin, int slot, const std::string& target) {
    if (slot < 0) throw std::invalid_argument("slots are numbered from 0");
    return message(pin, "/slot/" + std::to_string(slot) + "/" + target, 1.0f);
}

CompanionMessage CompanionCommand::panic(const std::string& pin, const std::string& onOff) {
    return message(pin, "/panic", parseOnOff(onOff) ? 1.0f : 0.0f);
}

CompanionMessage CompanionCommand::record(const std::string& pin, const std::string& onOff) {
    return message(pin, "/record", parseOnOff(onOff) ? 1.0f : 0.0f);
}

CompanionMessage CompanionCommand::recallScene(const std::string& pin, int index) {
    if (index < 0) throw std::invalid_argument("scenes are numbered from 0");
    return message(pin, "/snapshot/" + std::to_string(index), 1.0f);
}

CompanionMessage CompanionCommand::saveScene(const std::string& pin) { return message(pin, "/snapshot/save", 1.0f); }

CompanionMessage CompanionCommand::control(const std::string& pin, int number, const std::string& level) {
    return message(pin, "/orevant/" + std::to_string(number), parseLevel(level));
}

CompanionMessage CompanionCommand::hello(const std::string& pin) { return message(pin, "/hello", 0.0f); }

std::optional<CompanionCommand::StringMessage> CompanionCommand::decodeStringMessage(const uint8_t* data, size_t size) {
    auto address = readPadded(data, size, 0);
    if (!address || address->first.empty() || address->first[0] != '/') return std::nullopt;
    auto tags = readPadded(data, size, address->second);
    if (!tags || tags->first.size() < 2 || tags->first[0] != ',' || tags->first[1] != 's') return std::nullopt;
    auto text = readPadded(data, size, tags->second);
    if (!text) return std::nullopt;
    return StringMessage{address->first, text->first};
}

} // namespace orevant
