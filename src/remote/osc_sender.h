#pragma once
// All outgoing OSC: one connected UDP socket per destination, kept in a map under a lock and
// reused for every later message there. Fire-and-forget: a send error drops that destination's
// socket and the datagram goes once more on a new one (the error may be a stale refusal of an
// earlier datagram); only when that fails too is it lost. Nothing is logged.
//
// Threads: every method may be called from any thread and returns without waiting for the
// network.
#include "remote/network_endpoint.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orevant {

class UdpSocket;

class OSCSender {
public:
    OSCSender();
    virtual ~OSCSender();
    OSCSender(const OSCSender&) = delete;
    OSCSender& operator=(const OSCSender&) = delete;

    // The process-wide sender, created on first use.
    static std::shared_ptr<OSCSender> shared();
    // Replaces the process-wide sender (tests install their own); returns the previous one.
    static std::shared_ptr<OSCSender> setShared(std::shared_ptr<OSCSender> sender);

    // One message with a single string argument, keyed by the endpoint's description.
    virtual void send(const std::string& address, const std::string& string, const NetworkEndpoint& to);
    // One message with a single float argument, keyed by host + ":" + port.
    virtual void send(const std::string& address, float value, const std::string& host, uint16_t port);

    size_t connectionCount() const;
    bool hasConnection(const std::string& key) const;
    // Connections dropped after a send error since construction.
    size_t droppedConnections() const;

    static std::string keyFor(const std::string& host, uint16_t port) { return host + ":" + std::to_string(port); }

private:
    // The destination's socket, opened when there is none; null when the host cannot be reached.
    std::shared_ptr<UdpSocket> connection(const std::string& key, const std::string& host, uint16_t port);
    void drop(const std::string& key, const std::shared_ptr<UdpSocket>& connection);
    void sendPacket(const std::string& key, const std::string& host, uint16_t port, const std::vector<uint8_t>& bytes);

    mutable std::mutex lock_;
    std::map<std::string, std::shared_ptr<UdpSocket>> connections_;
    size_t dropped_ = 0;
};

} // namespace orevant
