#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests of clients: each path answers with a chosen
// body, or announces more than it sends (a truncated download), or never answers at all.
// Runs on a thread of its own; one request per connection.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orevant::test {

class HttpTestServer {
public:
    struct Response {
        int status = 200;
        std::string body;
        // Content-Length sent instead of the body's own (a body cut short), when set.
        int64_t announcedLength = -1;
        bool neverAnswer = false;
    };

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    void set(const std::string& path, Response response);
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path) const;
    // Paths requested so far, in order.
    std::vector<std::string> requests() const;

private:
    void serve();
    void answer(int client);

    int listener_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::vector<std::string> requests_;
    std::vector<int> silent_; // connections held open without an answer
    std::thread thread_;
};

} // namespace orevant::test
