#include "platform/linux/udp_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orevant {

namespace {

int lastError() { return errno != 0 ? errno : EIO; }

bool fillAddress(const std::string& host, uint16_t port, UdpSocket::Family family, sockaddr_storage& storage,
                 socklen_t& length) {
    std::memset(&storage, 0, sizeof storage);
    if (family == UdpSocket::Family::ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
        if (host.empty()) {
            a->sin6_addr = in6addr_any;
            return true;
        }
        if (inet_pton(AF_INET6, host.c_str(), &a->sin6_addr) == 1) return true;
        // An IPv4 text on a dual-stack socket: use its mapped form.
        in_addr v4{};
        if (inet_pton(AF_INET, host.c_str(), &v4) != 1) return false;
        a->sin6_addr.s6_addr[10] = 0xff;
        a->sin6_addr.s6_addr[11] = 0xff;
        std::memcpy(&a->sin6_addr.s6_addr[12], &v4, 4);
        return true;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    if (host.empty()) {
        a->sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, host.c_str(), &a->sin_addr) == 1;
}

UdpSocket::Peer peerOf(const sockaddr_storage& storage) {
    UdpSocket::Peer peer;
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&storage);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        peer.port = ntohs(a->sin_port);
    } else if (storage.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&storage);
        if (IN6_IS_ADDR_V4MAPPED(&a->sin6_addr))
            inet_ntop(AF_INET, &a->sin6_addr.s6_addr[12], text, sizeof text);
        else
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        peer.port = ntohs(a->sin6_port);
    }
    peer.host = text;
    return peer;
}

} // namespace

UdpSocket::~UdpSocket() { close(); }

int UdpSocket::open(Family family) {
    close();
    const int fd = ::socket(family == Family::ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return lastError();
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        const int error = lastError();
        ::close(fd);
        return error;
    }
    fd_ = fd;
    wakeFd_ = wake;
    family_ = family;
    return 0;
}

int UdpSocket::setDualStack(bool on) {
    if (family_ != Family::ipv6) return on ? EAFNOSUPPORT : 0;
    const int v6only = on ? 0 : 1;
    return ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) == 0 ? 0 : lastError();
}

int UdpSocket::enablePacketInfo() {
    const int on = 1;
    int result = 0;
    if (family_ == Family::ipv6) {
        result = ::setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
        if (result == 0) ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on); // for mapped IPv4
    } else {
        result = ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    }
    return result == 0 ? 0 : lastError();
}

int UdpSocket::bind(const std::string& host, uint16_t port) {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!fillAddress(host, port, family_, storage, length)) return EINVAL;
    return ::bind(fd_, reinterpret_cast<const sockaddr*>(&storage), length) == 0 ? 0 : lastError();
}

int UdpSocket::connect(const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_family = isOpen() ? (family_ == Family::ipv6 ? AF_INET6 : AF_INET) : AF_UNSPEC;
    hints.ai_flags = AI_NUMERICSERV | (isOpen() && family_ == Family::ipv6 ? AI_V4MAPPED : 0);
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (status != 0 || found == nullptr) return status == EAI_SYSTEM ? lastError() : EHOSTUNREACH;
    int result = 0;
    if (!isOpen()) result = open(found->ai_family == AF_INET6 ? Family::ipv6 : Family::ipv4);
    if (result == 0 && ::connect(fd_, found->ai_addr, found->ai_addrlen) != 0) result = lastError();
    ::freeaddrinfo(found);
    return result;
}

uint16_t UdpSocket::localPort() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
    return peerOf(storage).port;
}

int UdpSocket::send(const void* data, size_t size) {
    const ssize_t sent = ::send(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    return sent < 0 ? lastError() : 0;
}

int UdpSocket::sendTo(const void* data, size_t size, const std::string& host, uint16_t port) {
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!fillAddress(host, port, family_, storage, length)) return EINVAL;
    const ssize_t sent =
        ::sendto(fd_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&storage), length);
    return sent < 0 ? lastError() : 0;
}

int UdpSocket::receive(void* buffer, size_t capacity, Datagram& out, int timeoutMs) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        if (ready == 0) return kTimedOut;
        break;
    }
    if (fds[1].revents != 0) return kInterrupted;

    sockaddr_storage from{};
    iovec io{buffer, capacity};
    alignas(cmsghdr) unsigned char control[128];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = ::recvmsg(fd_, &message, MSG_DONTWAIT);
    if (received < 0) return errno == EAGAIN ? kTimedOut : lastError();

    out.size = static_cast<size_t>(received);
    out.truncated = (message.msg_flags & MSG_TRUNC) != 0;
    out.from = peerOf(from);
    out.interfaceIndex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            out.interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            out.interfaceIndex = info.ipi6_ifindex;
        }
    }
    return 0;
}

void UdpSocket::interrupt() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void UdpSocket::close() {
    if (fd_ >= 0) ::close(fd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
}

std::string UdpSocket::interfaceDescription(unsigned index) {
    if (index == 0) return {};
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(index, name) == nullptr) return {};
    std::string kind = "other";
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::memcpy(request.ifr_name, name, sizeof request.ifr_name); // both IF_NAMESIZE, name terminated
    const bool flagsKnown = probe >= 0 && ::ioctl(probe, SIOCGIFFLAGS, &request) == 0;
    if (probe >= 0) ::close(probe);
    struct stat info {};
    const std::string sys = std::string("/sys/class/net/") + name;
    if (flagsKnown && (request.ifr_flags & IFF_LOOPBACK) != 0)
        kind = "loopback";
    else if (::stat((sys + "/wireless").c_str(), &info) == 0 || ::stat((sys + "/phy80211").c_str(), &info) == 0)
        kind = "wifi";
    else if (::stat((sys + "/device").c_str(), &info) == 0)
        kind = "wiredEthernet";
    return std::string(name) + "(" + kind + ")";
}

std::string UdpSocket::errorText(int error) {
    if (error == kInterrupted) return "Interrupted";
    if (error == kTimedOut) return "Timed out";
    return std::strerror(error);
}

} // namespace orevant
