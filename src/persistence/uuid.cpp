#include "persistence/uuid.h"

#include <uuid/uuid.h>

#include <cstring>

namespace orevant {

UUID UUID::random() {
    uuid_t raw;
    uuid_generate_random(raw);
    std::array<uint8_t, 16> bytes;
    std::memcpy(bytes.data(), raw, 16);
    return UUID(bytes);
}

std::optional<UUID> UUID::parse(std::string_view text) {
    // libuuid reads a NUL-terminated string of exactly this length.
    if (text.size() != 36) return std::nullopt;
    char buffer[37];
    std::memcpy(buffer, text.data(), 36);
    buffer[36] = '\0';
    uuid_t raw;
    if (uuid_parse(buffer, raw) != 0) return std::nullopt;
    std::array<uint8_t, 16> bytes;
    std::memcpy(bytes.data(), raw, 16);
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    uuid_t raw;
    std::memcpy(raw, bytes_.data(), 16);
    char buffer[37];
    uuid_unparse_upper(raw, buffer);
    return std::string(buffer, 36);
}

} // namespace orevant
