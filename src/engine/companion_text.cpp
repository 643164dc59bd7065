#include "engine/companion_text.h"

#include "remote/osc_codec.h"

#include <algorithm>

namespace orevant {

namespace {

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the well-formed code point at the start of `text`; 0 when it is not one.
size_t codePointLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || length > text.size()) return 0;
    return OSCCodec::isValidUTF8(text.substr(0, length)) ? length : 0;
}

} // namespace

std::string_view cutUTF8(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && isContinuation(text[end])) --end;
    return text.substr(0, end);
}

std::string companionText(std::string_view text, size_t maxBytes) {
    std::string clean;
    clean.reserve(std::min(text.size(), maxBytes + 3));
    while (!text.empty() && clean.size() < maxBytes) {
        const size_t length = codePointLength(text);
        if (length == 0) {
            clean += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else if (length == 1 && (static_cast<unsigned char>(text[0]) < 0x20 || text[0] == 0x7F)) {
            clean += ' ';
            text.remove_prefix(1);
        } else {
            clean.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return std::string(cutUTF8(clean, maxBytes));
}

} // namespace orevant
