#pragma once
// A UDP host-and-port endpoint: the remote side of an OSC datagram, or a destination.
#include <cstdint>
#include <string>

namespace orevant {

struct NetworkEndpoint {
    std::string host; // numeric IPv4 or IPv6 text, or a host name
    uint16_t port = 0;

    // "192.168.1.20:50123", "[fe80::1%en0]:9001": stable and unique per host and port.
    std::string description() const {
        const bool v6 = host.find(':') != std::string::npos;
        return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    }
    NetworkEndpoint withPort(uint16_t newPort) const { return NetworkEndpoint{host, newPort}; }
    bool operator==(const NetworkEndpoint&) const = default;
};

} // namespace orevant
