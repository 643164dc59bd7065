#pragma once
// A thin wrapper over one POSIX UDP socket: one method per system call, errors returned as errno
// values (0 = success). Not copyable; one thread sends or receives at a time, except interrupt(),
// which any thread may call to wake a blocked receive().
#include <cstddef>
#include <cstdint>
#include <string>

namespace orevant {

class UdpSocket {
public:
    enum class Family { ipv4, ipv6 };

    // A host (numeric text, IPv4 or IPv6; IPv4-mapped IPv6 addresses are shown as IPv4) and port.
    struct Peer {
        std::string host;
        uint16_t port = 0;
    };

    struct Datagram {
        size_t size = 0;        // bytes stored in the caller's buffer
        bool truncated = false; // the datagram was larger than the buffer
        Peer from;
        unsigned interfaceIndex = 0; // receiving interface, when packet info is enabled
    };

    // receive() results beyond errno values.
    static constexpr int kInterrupted = -1;
    static constexpr int kTimedOut = -2;

    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // socket(2) plus the eventfd that interrupt() signals.
    int open(Family family);
    bool isOpen() const { return fd_ >= 0; }
    Family family() const { return family_; }
    // IPV6_V6ONLY off: an IPv6 socket bound to "::" also receives IPv4.
    int setDualStack(bool on);
    // IP_PKTINFO / IPV6_RECVPKTINFO, so receive() reports the receiving interface.
    int enablePacketInfo();
    // bind(2); an empty host means every interface.
    int bind(const std::string& host, uint16_t port);
    // Resolves host (getaddrinfo, numeric or name), opens the socket in the resolved family if it
    // is not open yet, and connect(2)s it.
    int connect(const std::string& host, uint16_t port);
    // getsockname(2): the bound port, 0 when unknown.
    uint16_t localPort() const;
    // send(2) on a connected socket, never blocking. A connected socket reports here the refusal
    // (ECONNREFUSED) that an earlier ICMP port-unreachable left on it.
    int send(const void* data, size_t size);
    // sendto(2) to a numeric host.
    int sendTo(const void* data, size_t size, const std::string& host, uint16_t port);
    // Waits (poll(2)) until a datagram is there, interrupt() is called or timeoutMs passes (< 0:
    // no limit, 0: do not wait), then recvmsg(2)s it. Returns 0, an errno value, kInterrupted or
    // kTimedOut. An interrupt stays signalled, so every later receive returns kInterrupted too.
    int receive(void* buffer, size_t capacity, Datagram& out, int timeoutMs = -1);
    // Any thread: wakes receive().
    void interrupt();
    void close();

    // "lo(loopback)", "eth0(wiredEthernet)", "wlan0(wifi)", "tun0(other)"; empty for index 0.
    static std::string interfaceDescription(unsigned index);
    static std::string errorText(int error);

private:
    int fd_ = -1;
    int wakeFd_ = -1;
    Family family_ = Family::ipv4;
};

} // namespace orevant
