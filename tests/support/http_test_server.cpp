#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orevant::test {

HttpTestServer::HttpTestServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    (void)!::pipe(wake_);
    thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
    (void)!::write(wake_[1], "x", 1);
    thread_.join();
    for (int fd : silent_) ::close(fd);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void HttpTestServer::set(const std::string& path, Response response) {
    std::lock_guard lock(mutex_);
    responses_[path] = std::move(response);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void HttpTestServer::serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) answer(client);
    }
}

void HttpTestServer::answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd fd{client, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0) break;
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    Response response{404, "not found", -1, false};
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(path);
        auto it = responses_.find(path);
        if (it != responses_.end()) response = it->second;
        if (response.neverAnswer) {
            silent_.push_back(client);
            return;
        }
    }
    const int64_t length =
        response.announcedLength >= 0 ? response.announcedLength : static_cast<int64_t>(response.body.size());
    const std::string head = "HTTP/1.1 " + std::to_string(response.status) +
                             " X\r\nContent-Length: " + std::to_string(length) + "\r\nConnection: close\r\n\r\n";
    const std::string all = head + response.body;
    for (size_t sent = 0; sent < all.size();) {
        const ssize_t n = ::send(client, all.data() + sent, all.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    ::close(client);
}

} // namespace orevant::test
