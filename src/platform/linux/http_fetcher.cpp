#include "platform/linux/http_fetcher.h"

#include <cmath>
#include <cstdio>
#include <curl/curl.h>
#include <mutex>

namespace orevant {

namespace {
struct Sink {
    std::FILE* file = nullptr;
    std::string* body = nullptr;
    uint64_t maxBytes = 0;
    uint64_t received = 0;
    bool tooLarge = false;
};

size_t receive(char* data, size_t size, size_t count, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const size_t n = size * count;
    if (sink->received + n > sink->maxBytes) {
        sink->tooLarge = true;
        return 0; // ends the transfer
    }
    sink->received += n;
    if (sink->body) sink->body->append(data, n);
    if (sink->file && std::fwrite(data, 1, n, sink->file) != n) return 0;
    return n;
}

long millis(double seconds) { return static_cast<long>(std::llround(std::max(seconds, 0.001) * 1000.0)); }
} // namespace

HttpFetcher::HttpFetcher(HttpLimits limits, const std::atomic<bool>* cancel) : limits_(limits), cancel_(cancel) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpFetcher::Result HttpFetcher::perform(const std::string& url, uint64_t maxBytes, std::FILE* file,
                                         std::string* body) const {
    Result result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = "cannot start a transfer";
        return result;
    }
    Sink sink{file, body, maxBytes, 0, false};
    char message[CURL_ERROR_SIZE] = {};
    const char* protocols = limits_.allowPlainHTTP ? "https,http" : "https";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, millis(limits_.connectTimeout));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, millis(limits_.totalTimeout));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, millis(limits_.stallTimeout) / 1000));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "OREVANT/" OREVANT_VERSION);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    if (cancel_) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, cancel_);
        curl_easy_setopt(
            curl, CURLOPT_XFERINFOFUNCTION, +[](void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
                return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
            });
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    result.bytes = sink.received;
    if (sink.tooLarge) {
        result.error = "more data than announced";
    } else if (code != CURLE_OK) {
        result.error = message[0] ? message : curl_easy_strerror(code);
    } else {
        result.ok = true;
    }
    return result;
}

HttpFetcher::Result HttpFetcher::fetch(const std::string& url, uint64_t maxBytes) const {
    std::string body;
    Result result = perform(url, maxBytes, nullptr, &body);
    if (result.ok) result.body = std::move(body);
    return result;
}

HttpFetcher::Result HttpFetcher::download(const std::string& url, const std::filesystem::path& file,
                                          uint64_t expectedBytes) const {
    Result result;
    std::FILE* out = std::fopen(file.c_str(), "wbx");
    if (!out) {
        result.error = "cannot write " + file.string();
        return result;
    }
    result = perform(url, expectedBytes, out, nullptr);
    if (std::fclose(out) != 0 && result.ok) {
        result.ok = false;
        result.error = "cannot write " + file.string();
    }
    if (result.ok && result.bytes != expectedBytes) {
        result.ok = false;
        result.error = "download truncated";
    }
    return result;
}

} // namespace orevant
