#pragma once
// The web companion's session tokens: random, 128 bits, valid until every token is revoked at
// once (the PIN was reissued). Few at a time: the oldest goes when a new one would exceed the
// bound, so failed page loads grow nothing. Any thread.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace orevant {

class WebSessionTokens {
public:
    static constexpr size_t kMaxTokens = 32;

    std::string issue();
    bool isValid(const std::string& token) const;
    void revokeAll();
    // Rises with every revokeAll(); a session made under an older one is over.
    uint64_t generation() const;

private:
    mutable std::mutex lock_;
    std::deque<std::string> tokens_;
    uint64_t generation_ = 0;
};

} // namespace orevant
