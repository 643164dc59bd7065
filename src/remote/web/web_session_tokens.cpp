#include "remote/web/web_session_tokens.h"

#include <algorithm>
#include <sodium.h>

namespace orevant {

std::string WebSessionTokens::issue() {
    if (sodium_init() < 0) return {};
    unsigned char bytes[16];
    randombytes_buf(bytes, sizeof bytes);
    char hex[sizeof bytes * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    std::lock_guard lock(lock_);
    if (tokens_.size() >= kMaxTokens) tokens_.pop_front();
    tokens_.emplace_back(hex);
    return tokens_.back();
}

bool WebSessionTokens::isValid(const std::string& token) const {
    if (token.empty()) return false;
    std::lock_guard lock(lock_);
    return std::find(tokens_.begin(), tokens_.end(), token) != tokens_.end();
}

void WebSessionTokens::revokeAll() {
    std::lock_guard lock(lock_);
    tokens_.clear();
    ++generation_;
}

uint64_t WebSessionTokens::generation() const {
    std::lock_guard lock(lock_);
    return generation_;
}

} // namespace orevant
