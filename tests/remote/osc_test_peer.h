#pragma once
// A loopback UDP peer for the remote-control tests: plays the phone, TotalMix or any other
// party on 127.0.0.1, with packet builders for the shapes the tests need.
#include "platform/linux/udp_socket.h"
#include "remote/osc_codec.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orevant::test {

using Bytes = std::vector<uint8_t>;

inline void appendPadded(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    while (out.size() % 4 != 0) out.push_back(0);
}

inline void appendBigEndian(Bytes& out, uint32_t bits) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

inline Bytes intMessage(const std::string& address, int32_t value, const std::string& tags = ",i") {
    Bytes out;
    appendPadded(out, address);
    appendPadded(out, tags);
    appendBigEndian(out, static_cast<uint32_t>(value));
    return out;
}

inline Bytes floatMessage(const std::string& address, float value) { return OSCCodec::encode(address, value); }

struct StringMessage {
    std::string address;
    std::string value;
};

// Reads a ",s" message as the phone does; nothing when the shape is wrong.
inline std::optional<StringMessage> decodeStringMessage(const Bytes& bytes) {
    auto readPadded = [&](size_t& offset) -> std::optional<std::string> {
        if (offset >= bytes.size()) return std::nullopt;
        const void* end = std::memchr(bytes.data() + offset, 0, bytes.size() - offset);
        if (end == nullptr) return std::nullopt;
        const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(end) - (bytes.data() + offset));
        std::string text(reinterpret_cast<const char*>(bytes.data() + offset), length);
        offset += length + 4 - length % 4;
        return text;
    };
    size_t offset = 0;
    auto address = readPadded(offset);
    auto tags = readPadded(offset);
    if (!address || !tags || *tags != ",s") return std::nullopt;
    auto value = readPadded(offset);
    if (!value || offset != bytes.size()) return std::nullopt;
    return StringMessage{*address, *value};
}

class OSCTestPeer {
public:
    // Binds 127.0.0.1 on `port` (0: any free port).
    explicit OSCTestPeer(uint16_t port = 0) {
        if (socket_.open(UdpSocket::Family::ipv4) != 0 || socket_.bind("127.0.0.1", port) != 0)
            throw std::runtime_error("cannot bind the loopback test peer");
    }

    uint16_t port() const { return socket_.localPort(); }

    void sendTo(uint16_t port, const Bytes& bytes) {
        if (socket_.sendTo(bytes.data(), bytes.size(), "127.0.0.1", port) != 0)
            throw std::runtime_error("loopback send failed");
    }

    // The next datagram; waits at most `timeoutMs` (a generous bound that only a fault reaches;
    // 0 takes only a datagram that is already there).
    std::optional<Bytes> receive(int timeoutMs = 10000) {
        Bytes buffer(65536);
        UdpSocket::Datagram datagram;
        if (socket_.receive(buffer.data(), buffer.size(), datagram, timeoutMs) != 0) return std::nullopt;
        buffer.resize(datagram.size);
        lastSender_ = datagram.from.port;
        return buffer;
    }

    uint16_t lastSenderPort() const { return lastSender_; }

private:
    UdpSocket socket_;
    uint16_t lastSender_ = 0;
};

} // namespace orevant::test
