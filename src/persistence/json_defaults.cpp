#include "persistence/json_defaults.h"

#include "platform/logger.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("JSONDefaults");
    return logger;
}

std::optional<Json> parse(const DefaultsData& bytes) {
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
} // namespace

std::optional<Json> JSONDefaults::loadJSON(std::string_view key, const DefaultsStore& defaults) {
    auto bytes = defaults.data(std::string(key));
    if (!bytes) return std::nullopt;
    return parse(*bytes);
}

void JSONDefaults::saveJSON(const Json& document, std::string_view key, DefaultsStore& defaults,
                            const std::function<bool(const Json&)>& isReadable) {
    std::string text;
    try {
        text = document.dump();
    } catch (const std::exception&) {
        // Strings that are not valid UTF-8 cannot be written as JSON.
        logEncodeFailure(key);
        return;
    }
    if (isReadable) keepUnreadable(key, defaults, isReadable);
    defaults.set(std::string(key), DefaultsData(text.begin(), text.end()));
}

void JSONDefaults::keepUnreadable(std::string_view key, DefaultsStore& defaults,
                                  const std::function<bool(const Json&)>& isReadable) {
    const std::string name(key);
    auto current = defaults.object(name);
    if (!current) return;
    if (const DefaultsData* bytes = current->get<DefaultsData>()) {
        if (auto document = parse(*bytes); document && isReadable(*document)) return;
    }
    std::string copyKey = name + ".unreadable";
    for (int n = 2;; ++n) {
        auto existing = defaults.object(copyKey);
        if (!existing) break;
        if (*existing == *current) return; // already kept
        copyKey = name + ".unreadable." + std::to_string(n);
    }
    defaults.set(copyKey, *current);
    log().error(
        strprintf("Stored %s could not be read; kept it as %s before replacing it", name.c_str(), copyKey.c_str()));
}

void JSONDefaults::logEncodeFailure(std::string_view key) {
    log().error(strprintf("Failed to encode %s; not persisted", std::string(key).c_str()));
}

Json encodeFloat(float value) {
    if (!std::isfinite(value)) throw std::domain_error("a non-finite number cannot be encoded");
    char buffer[32];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double shortest = 0;
    std::from_chars(buffer, written.ptr, shortest);
    return Json(shortest);
}

float decodeFloat(const Json& j) {
    if (!j.is_number()) throw std::invalid_argument("expected a number");
    const auto value = static_cast<float>(j.get<double>());
    if (!std::isfinite(value)) throw std::out_of_range("number does not fit a float");
    return value;
}

} // namespace orevant
