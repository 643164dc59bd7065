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

std::shared_ptr<UdpSocket> OSCSender::connection(const std::string& key, const std::string& host, uint16_t port) {
    std::lock_guard lock(lock_);
    auto found = connections_.find(key);
    if (found != connections_.end()) return found->second;
    // A connected socket: the kernel reports an unreachable destination on a later send.
    auto created = std::make_shared<UdpSocket>();
    if (created->connect(host, port) != 0) return nullptr; // unresolvable: the datagram is lost
    connections_.emplace(key, created);
    return created;
}

void OSCSender::drop(const std::string& key, const std::shared_ptr<UdpSocket>& connection) {
    std::lock_guard lock(lock_);
    const auto found = connections_.find(key);
    // Only this socket is dropped; another thread may already have replaced it.
    if (found != connections_.end() && found->second == connection) {
        connections_.erase(found);
        ++dropped_;
    }
}

void OSCSender::sendPacket(const std::string& key, const std::string& host, uint16_t port,
                           const std::vector<uint8_t>& bytes) {
    std::shared_ptr<UdpSocket> first = connection(key, host, port);
    if (!first) return;
    // An address that is not valid UTF-8 encodes to nothing, and nothing is sent.
    if (bytes.empty()) return;
    if (first->send(bytes.data(), bytes.size()) == 0) return;
    drop(key, first);
    // The error may belong to an earlier datagram (a refusal left on the socket while the peer
    // was away) and this one was then never sent: it goes once more on a fresh socket.
    std::shared_ptr<UdpSocket> second = connection(key, host, port);
    if (!second || second->send(bytes.data(), bytes.size()) == 0) return;
    drop(key, second);
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
