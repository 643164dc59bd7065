#include "platform/linux/update_feed.h"

#include <nlohmann/json.hpp>

namespace orevant {

namespace {
constexpr size_t kMaxVersionParts = 8;
constexpr size_t kMaxPartDigits = 9;

// The version's parts; nothing when it is not dotted integers.
std::optional<std::array<uint64_t, kMaxVersionParts>> versionParts(std::string_view text) {
    std::array<uint64_t, kMaxVersionParts> parts{};
    size_t part = 0, digits = 0;
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (c == '.') {
            if (digits == 0 || ++part == kMaxVersionParts) return std::nullopt;
            digits = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > kMaxPartDigits) return std::nullopt;
            parts[part] = parts[part] * 10 + static_cast<uint64_t>(c - '0');
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    return parts;
}
} // namespace

bool UpdateFeed::isVersion(std::string_view version) { return versionParts(version).has_value(); }

int UpdateFeed::compareVersions(std::string_view a, std::string_view b) {
    const auto x = versionParts(a).value_or(std::array<uint64_t, kMaxVersionParts>{});
    const auto y = versionParts(b).value_or(std::array<uint64_t, kMaxVersionParts>{});
    for (size_t i = 0; i < kMaxVersionParts; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

std::string UpdateFeed::hex(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool UpdateFeed::fromHex(std::string_view text, uint8_t* bytes, size_t size) {
    if (text.size() != size * 2) return false;
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < size; ++i) {
        const int high = value(text[2 * i]), low = value(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

std::string UpdateFeed::signedMessage(const std::string& version, const std::array<uint8_t, 32>& sha256) {
    return "orevant-update\n" + version + "\n" + hex(sha256.data(), sha256.size()) + "\n";
}

std::optional<UpdateFeedEntry> UpdateFeed::parse(std::string_view document, std::string& error) {
    if (document.size() > kMaxDocumentBytes) {
        error = "feed too large";
        return std::nullopt;
    }
    const nlohmann::json json = nlohmann::json::parse(document, nullptr, false);
    if (!json.is_object()) {
        error = "feed is not a JSON object";
        return std::nullopt;
    }
    const auto text = [&](const char* key) -> std::optional<std::string> {
        auto it = json.find(key);
        if (it == json.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    UpdateFeedEntry entry;
    const auto version = text("version"), url = text("url"), sha = text("sha256"), signature = text("signature");
    const auto size = json.find("size");
    if (!version || !isVersion(*version)) {
        error = "feed lacks a valid \"version\"";
    } else if (!url || url->empty() || url->size() > 2048) {
        error = "feed lacks a valid \"url\"";
    } else if (size == json.end() || !size->is_number_unsigned() || size->get<uint64_t>() == 0 ||
               size->get<uint64_t>() > kMaxPackageBytes) {
        error = "feed lacks a valid \"size\"";
    } else if (!sha || !fromHex(*sha, entry.sha256.data(), entry.sha256.size())) {
        error = "feed lacks a valid \"sha256\"";
    } else if (!signature || !fromHex(*signature, entry.signature.data(), entry.signature.size())) {
        error = "feed lacks a valid \"signature\"";
    } else {
        entry.version = *version;
        entry.url = *url;
        entry.size = size->get<uint64_t>();
        return entry;
    }
    return std::nullopt;
}

} // namespace orevant
