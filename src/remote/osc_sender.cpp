#include "remote/osc_sender.h"

#include "platform/linux/udp_socket.h"
#include "remote/osc_codec.h"

namespace orevant {

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<OSCSender>& sharedSlot() {
    static std::shared_ptr<OSCSender> sender;
    return sender;
}

} // namespace

OSCSender::OSCSender() = default;
OSCSender::~OSCSender() = default;

std::shared_ptr<OSCSender> OSCSender::shared() {
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_shared<OSCSender>();
    return slot;
}

std::shared_ptr<OSCSender> OSCSender::setShared(std::shared_ptr<OSCSender> sender) {
    std::lock_guard lock(sharedMutex());
    auto previous = std::move(sharedSlot());
    sharedSlot() = std::move(sender);
    return previous;
}

void OSCSender::send(const std::string& address, const std::string& string, const NetworkEndpoint& to) {
    sendPacket(to.description(), to.host, to.port, OSCCodec::encode(address, std::string_view(string)));
}

void OSCSender::send(const std::string& address, float value, const std::string& host, uint16_t port) {
    sendPacket(keyFor(host, port), host, port, OSCCodec::encode(address, value));
}

void OSCSender::sendPacket(const std::string& key, const std::string& host, uint16_t port,
                           const std::vector<uint8_t>& bytes) {
    std::shared_ptr<UdpSocket> connection;
    {
        std::lock_guard lock(lock_);
        auto found = connections_.find(key);
        if (found != connections_.end()) {
            connection = found->second;
        } else {
            // A connected socket: the kernel reports an unreachable destination on a later send.
            auto created = std::make_shared<UdpSocket>();
            if (created->connect(host, port) != 0) return; // unresolvable: the datagram is lost
            connections_.emplace(key, created);
            connection = std::move(created);
        }
    }
    // An address that is not valid UTF-8 encodes to nothing, and nothing is sent.
    if (bytes.empty()) return;
    if (connection->send(bytes.data(), bytes.size()) == 0) return;

    std::lock_guard lock(lock_);
    const auto found = connections_.find(key);
    // Only this socket is dropped; another thread may already have replaced it.
    if (found != connections_.end() && found->second == connection) {
        connections_.erase(found);
        ++dropped_;
    }
}

size_t OSCSender::connectionCount() const {
    std::lock_guard lock(lock_);
    return connections_.size();
}

bool OSCSender::hasConnection(const std::string& key) const {
    std::lock_guard lock(lock_);
    return connections_.count(key) != 0;
}

size_t OSCSender::droppedConnections() const {
    std::lock_guard lock(lock_);
    return dropped_;
}

} // namespace orevant
