#pragma once
#include <cstdint>
#include <string>

namespace orevant {

// A four-character code built from its text: fourcc("dOut").
constexpr uint32_t fourcc(const char (&text)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(text[3]));
}

inline std::string fourccText(uint32_t code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xff);
    return s;
}

} // namespace orevant
