#pragma once
// The update feed: one small JSON document naming the newest release,
//   {"version": "1.2.0", "url": "https://…/orevant_1.2.0_amd64.deb", "size": 1234567,
//    "sha256": "<64 hex digits>", "signature": "<128 hex digits>"}
// where the signature is an Ed25519 signature, by the release key, of signedMessage(version,
// sha256): the package's digest bound to the version it claims to be. Pure functions; any thread.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orevant {

struct UpdateFeedEntry {
    std::string version;
    std::string url;
    uint64_t size = 0;
    std::array<uint8_t, 32> sha256{};
    std::array<uint8_t, 64> signature{};
};

class UpdateFeed {
public:
    static constexpr size_t kMaxDocumentBytes = 64 * 1024;
    static constexpr uint64_t kMaxPackageBytes = 512ull * 1024 * 1024;

    // The entry of a feed document; nothing (and `error` says why) when it is not one.
    static std::optional<UpdateFeedEntry> parse(std::string_view document, std::string& error);
    // Versions as dotted integers ("1.10.0" > "1.9"; missing parts count as 0): <0, 0, >0.
    // Only called with versions isVersion() accepts.
    static int compareVersions(std::string_view a, std::string_view b);
    static bool isVersion(std::string_view version);
    // What the release key signs.
    static std::string signedMessage(const std::string& version, const std::array<uint8_t, 32>& sha256);
    static std::string hex(const uint8_t* bytes, size_t size);
    // Decodes exactly `size` bytes of hex; false on anything else.
    static bool fromHex(std::string_view text, uint8_t* bytes, size_t size);
};

} // namespace orevant
