#pragma once
// Blocking HTTPS requests through libcurl, bounded in time and size: a small document into
// memory, or a download into a file. Runs on whatever thread calls it (the updater's worker).
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

namespace orevant {

struct HttpLimits {
    double connectTimeout = 15.0; // seconds
    // A transfer slower than 1 byte a second for this long is abandoned (a server that stalls).
    double stallTimeout = 30.0;
    double totalTimeout = 600.0;
    // Plain http:// too (tests on loopback); otherwise https:// only, redirects included.
    bool allowPlainHTTP = false;
};

class HttpFetcher {
public:
    struct Result {
        bool ok = false;
        std::string error; // when not ok
        std::string body;  // fetch() only
        uint64_t bytes = 0;
    };

    // Setting `cancel` (from any thread) abandons a transfer under way.
    explicit HttpFetcher(HttpLimits limits, const std::atomic<bool>* cancel = nullptr);

    // The body of `url`; more than `maxBytes` is an error.
    Result fetch(const std::string& url, uint64_t maxBytes) const;
    // Writes the body of `url` to `file`; anything but exactly `expectedBytes` is an error.
    Result download(const std::string& url, const std::filesystem::path& file, uint64_t expectedBytes) const;

private:
    Result perform(const std::string& url, uint64_t maxBytes, std::FILE* file, std::string* body) const;
    HttpLimits limits_;
    const std::atomic<bool>* cancel_;
};

} // namespace orevant
