#include "remote/osc_codec.h"

#include <bit>
#include <cstring>

namespace orevant {

namespace {

void appendPadded(OSCCodec::Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    while (out.size() % 4 != 0) out.push_back(0);
}

void appendBigEndian(OSCCodec::Bytes& out, uint32_t bits) {
    out.push_back(static_cast<uint8_t>(bits >> 24));
    out.push_back(static_cast<uint8_t>(bits >> 16));
    out.push_back(static_cast<uint8_t>(bits >> 8));
    out.push_back(static_cast<uint8_t>(bits));
}

uint32_t readBigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Offset just past a string of `length` bytes that starts at `offset`, its terminator and padding.
size_t paddedEnd(size_t offset, size_t length) { return offset + length + 4 - (length % 4); }

} // namespace

bool OSCCodec::isValidUTF8(std::string_view text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const uint8_t b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

OSCCodec::Bytes OSCCodec::encode(std::string_view address, float value) {
    if (!isValidUTF8(address)) return {};
    Bytes out;
    out.reserve(address.size() + 12);
    appendPadded(out, address);
    appendPadded(out, ",f");
    appendBigEndian(out, std::bit_cast<uint32_t>(value));
    return out;
}

OSCCodec::Bytes OSCCodec::encode(std::string_view address, std::string_view string) {
    if (!isValidUTF8(address)) return {};
    Bytes out;
    out.reserve(address.size() + string.size() + 16);
    appendPadded(out, address);
    appendPadded(out, ",s");
    appendPadded(out, string);
    return out;
}

std::optional<OSCMessage> OSCCodec::decode(const uint8_t* data, size_t size) {
    if (data == nullptr || size == 0) return std::nullopt;

    const auto* addressEnd = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    if (addressEnd == nullptr) return std::nullopt;
    const size_t n = static_cast<size_t>(addressEnd - data);
    const std::string_view address(reinterpret_cast<const char*>(data), n);
    if (address.empty() || address.front() != '/' || !isValidUTF8(address)) return std::nullopt;

    const size_t tagOffset = paddedEnd(0, n);
    if (tagOffset >= size) return std::nullopt;
    const auto* tagEnd = static_cast<const uint8_t*>(std::memchr(data + tagOffset, 0, size - tagOffset));
    if (tagEnd == nullptr) return std::nullopt;
    const size_t t = static_cast<size_t>(tagEnd - (data + tagOffset));
    const std::string_view tags(reinterpret_cast<const char*>(data + tagOffset), t);
    if (tags.empty() || tags.front() != ',' || !isValidUTF8(tags)) return std::nullopt;

    const size_t argOffset = paddedEnd(tagOffset, t);
    if (argOffset > size) return std::nullopt;
    // Only the first argument is read, so only its tag decides how: a later "f" must not make
    // the bytes of a string or an integer read as a float.
    const char tag = tags.size() > 1 ? tags[1] : '\0';
    const bool isFloat = tag == 'f';
    const bool isInt = tag == 'i';
    if (!isFloat && !isInt) return std::nullopt;
    if (size - argOffset < 4) return std::nullopt;

    const uint32_t bits = readBigEndian(data + argOffset);
    const float value = isFloat ? std::bit_cast<float>(bits) : static_cast<float>(static_cast<int32_t>(bits)) / 127.0f;
    return OSCMessage{std::string(address), value};
}

} // namespace orevant
