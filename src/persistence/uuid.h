#pragma once
// A 128-bit universally unique identifier, written in its canonical 36-character upper-case
// form ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"). A plain value.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

class UUID {
public:
    // The nil UUID (all zero).
    UUID() = default;
    explicit UUID(const std::array<uint8_t, 16>& bytes) : bytes_(bytes) {}

    // A new random (version 4) UUID. Any thread.
    static UUID random();
    // Accepts the canonical 8-4-4-4-12 hexadecimal form in either case; nothing otherwise.
    static std::optional<UUID> parse(std::string_view text);

    std::string uuidString() const;
    const std::array<uint8_t, 16>& bytes() const { return bytes_; }

    bool operator==(const UUID&) const = default;
    auto operator<=>(const UUID&) const = default;

private:
    std::array<uint8_t, 16> bytes_{};
};

} // namespace orevant
