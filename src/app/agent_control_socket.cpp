#include "app/agent_control_socket.h"

#include "app/single_instance_check.h"
#include "platform/linux/single_instance_lock.h"

#include <chrono>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orevant {

namespace {
bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

void setTimeouts(int fd, double seconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(limit.tv_sec)) * 1e6);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}
} // namespace

std::string AgentControlSocket::defaultPath() {
    return SingleInstanceLock::defaultPath(SingleInstanceCheck::kLockName) + "/" + kFileName;
}

AgentControlSocket::AgentControlSocket(MainQueue& mainQueue, std::string path, Handler handler)
    : mainQueue_(mainQueue), path_(std::move(path)), handler_(std::make_shared<Handler>(std::move(handler))) {
    sockaddr_un address;
    if (!fillAddress(path_, address)) return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    // Only this agent holds the single-instance lock, so a socket left here is a dead one's.
    ::unlink(path_.c_str());
    const mode_t previous = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previous);
    if (!bound || ::chmod(path_.c_str(), 0600) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return;
    }
    listenFD_ = fd;
    wakeFD_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { serve(); });
}

AgentControlSocket::~AgentControlSocket() {
    if (listenFD_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFD_, &one, sizeof one);
    thread_.join();
    ::close(listenFD_);
    ::close(wakeFD_);
    ::unlink(path_.c_str());
}

void AgentControlSocket::serve() {
    for (;;) {
        pollfd fds[2] = {{listenFD_, POLLIN, 0}, {wakeFD_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int connection = ::accept4(listenFD_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void AgentControlSocket::answer(int connection) {
    // A client that says nothing, or too much, holds the door for one second at most.
    setTimeouts(connection, 1.0);
    std::string command;
    char buffer[kMaxCommandBytes];
    while (command.size() < kMaxCommandBytes && command.find('\n') == std::string::npos) {
        const ssize_t n = ::read(connection, buffer, kMaxCommandBytes - command.size());
        if (n <= 0) break;
        command.append(buffer, static_cast<size_t>(n));
    }
    const size_t end = command.find('\n');
    if (end == std::string::npos) return;
    command.resize(end);
    auto promise = std::make_shared<std::promise<std::string>>();
    std::future<std::string> reply = promise->get_future();
    mainQueue_.post([handler = handler_, promise, command] { promise->set_value((*handler)(command)); });
    if (reply.wait_for(std::chrono::duration<double>(kAnswerSeconds)) != std::future_status::ready) return;
    const std::string text = reply.get() + "\n";
    [[maybe_unused]] const ssize_t written = ::send(connection, text.data(), text.size(), MSG_NOSIGNAL);
}

std::optional<std::string> AgentControlSocket::request(const std::string& path, const std::string& command) {
    sockaddr_un address;
    if (!fillAddress(path, address)) return std::nullopt;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::nullopt;
    setTimeouts(fd, kAnswerSeconds + 1.0);
    std::string reply;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const std::string line = command + "\n";
        if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
            char buffer[4096];
            ssize_t n;
            while (reply.size() < 65536 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
                reply.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    if (reply.empty() || reply.back() != '\n') return std::nullopt;
    reply.pop_back();
    return reply;
}

} // namespace orevant
