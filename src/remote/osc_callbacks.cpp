#include "remote/osc_callbacks.h"

#include "platform/logger.h"

#include <charconv>
#include <limits>

namespace orevant {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

template <typename F, typename... Args>
void call(const F& callback, Args&&... args) {
    if (callback) callback(std::forward<Args>(args)...);
}

} // namespace

std::optional<int> OSCCallbacks::parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (const char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    long long magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    const long long value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

bool OSCCallbacks::dispatch(std::string_view address, float value) const {
    static const Logger log("OSCListener");
    const std::string text(address);
    log.debug(strprintf("OSC in: %s = %f", text.c_str(), static_cast<double>(value)));
    const bool on = value >= 0.5f;

    if (startsWith(address, "/orevant/")) {
        const auto n = parseInteger(address.substr(9));
        if (!n) return false;
        call(onOREVANTValueReceived, *n, value);
        return true;
    }
    if (startsWith(address, "/cue/")) {
        call(onCueReceived, std::string(address.substr(5)), on);
        return true;
    }
    if (startsWith(address, "/cuevolume/")) {
        call(onCueVolumeReceived, std::string(address.substr(11)), value);
        return true;
    }
    if (startsWith(address, "/volume/")) {
        call(onAppVolumeReceived, std::string(address.substr(8)), value);
        return true;
    }
    if (address == "/autorec") {
        call(onAutoRecReceived, on);
        return true;
    }
    if (address == "/record") {
        call(onRecordReceived, on);
        return true;
    }
    if (address == "/panic") {
        call(onPanicReceived, on);
        return true;
    }
    if (startsWith(address, "/snapshot/")) {
        // A scene button sends 1 on press and 0 on release; only the press acts.
        if (!on) return false;
        if (address == "/snapshot/save") {
            call(onSnapshotSaveReceived);
            return true;
        }
        const auto n = parseInteger(address.substr(10));
        if (!n) return false;
        call(onSnapshotReceived, *n);
        return true;
    }
    if (startsWith(address, "/slot/")) {
        const std::string_view rest = address.substr(6);
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return false;
        const auto n = parseInteger(rest.substr(0, slash));
        if (!n) return false;
        call(onSlotReceived, *n, std::string(rest.substr(slash + 1)));
        return true;
    }
    return false;
}

} // namespace orevant
