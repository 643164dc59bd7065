#include "remote/osc_listener.h"

#include "platform/linux/udp_socket.h"
#include "platform/logger.h"
#include "platform/service_advertiser.h"
#include "remote/log_budget.h"
#include "remote/osc_codec.h"
#include "remote/pin_gate.h"

#include <chrono>
#include <pthread.h>
#include <vector>

namespace orevant {

namespace {

const Logger& log() {
    static const Logger logger("OSCListener");
    return logger;
}

// Bounds the path table when datagrams arrive from many (possibly forged) source addresses.
constexpr size_t kMaxTrackedPaths = 256;
constexpr size_t kMaxDatagram = 65536;
// Lockouts last 10 s, so at most six start in a minute; their lines are never crowded out.
constexpr size_t kLockoutLinesKept = 6;

} // namespace

OSCListener::OSCListener(MainQueue& mainQueue, const HostClock& clock, ServiceAdvertiser& advertiser, uint16_t port)
    : mainQueue_(mainQueue),
      advertiser_(advertiser),
      requestedPort_(port),
      unpairedLog_(std::make_unique<LogBudget>(mainQueue, log(), kUnpairedLogLines, kUnpairedLogWindowSeconds)),
      gate_(std::make_unique<PINGate>(clock, unpairedLog_.get())) {
    tryStart();
}

OSCListener::~OSCListener() { stop(); }

bool OSCListener::tryStart() {
    retryTask_ = {};
    // Dual-stack IPv6 reaches every interface for both families; IPv4 alone where IPv6 is off.
    auto socket = std::make_unique<UdpSocket>();
    int error = socket->open(UdpSocket::Family::ipv6);
    if (error == 0 && socket->setDualStack(true) != 0) error = EAFNOSUPPORT;
    if (error == 0) {
        error = socket->bind("", requestedPort_);
    } else {
        error = socket->open(UdpSocket::Family::ipv4);
        if (error == 0) error = socket->bind("", requestedPort_);
    }
    if (error == 0) socket->enablePacketInfo();
    if (error != 0) {
        // Said once; the retries that follow are silent until one succeeds.
        if (!reportedStartFailure_) {
            reportedStartFailure_ = true;
            log().error(strprintf("Failed to start OSC listener: %s", UdpSocket::errorText(error).c_str()));
            log().error(error == EADDRINUSE
                            ? strprintf("UDP port %hu is in use by another program, so the phone cannot reach "
                                        "OREVANT; trying again every 5 seconds",
                                        requestedPort_)
                            : strprintf("Cannot listen on UDP port %hu; trying again every 5 seconds", requestedPort_));
        }
        retryTask_ = mainQueue_.postAfter(kRetrySeconds, guard_.wrap([this] { tryStart(); }));
        return false;
    }

    boundPort_ = socket->localPort();
    advertiser_.advertise(serviceInstanceName(), kServiceType, boundPort_);
    listener_ = std::move(socket);
    log().info(strprintf("OSC Listener ready on port %hu (DNS-SD: _orevant-osc._udp)", boundPort_));
    receiveThread_ = std::thread([this] { receiveLoop(); });
    return true;
}

void OSCListener::stop() {
    retryTask_.cancel();
    retryTask_ = {};
    if (!listener_) return;
    listener_->interrupt();
    if (receiveThread_.joinable()) receiveThread_.join();
    advertiser_.withdraw(kServiceType);
    listener_.reset();
    boundPort_ = 0;
}

bool OSCListener::isListening() const { return listener_ != nullptr; }

void OSCListener::setPIN(const std::string& pin) { gate_->setPIN(pin); }

size_t OSCListener::datagramsHandled() const {
    std::lock_guard lock(handledMutex_);
    return handled_;
}

bool OSCListener::waitUntilHandled(size_t count, double timeoutSeconds) const {
    std::unique_lock lock(handledMutex_);
    return handledChanged_.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                    [&] { return handled_ >= count; });
}

void OSCListener::receiveLoop() {
    pthread_setname_np(pthread_self(), "orevant.osc");
    std::vector<uint8_t> buffer(kMaxDatagram);
    for (;;) {
        UdpSocket::Datagram datagram;
        const int result = listener_->receive(buffer.data(), buffer.size(), datagram);
        if (result == UdpSocket::kInterrupted) return;
        if (result == EINTR || result == EAGAIN || result == UdpSocket::kTimedOut) continue;
        if (result != 0) {
            // A listener that fails is not restarted; remote control is off until next launch.
            log().error(strprintf("OSC Listener failed: %s", UdpSocket::errorText(result).c_str()));
            return;
        }
        if (!datagram.truncated) {
            handleDatagram(buffer.data(), datagram.size, NetworkEndpoint{datagram.from.host, datagram.from.port},
                           datagram.interfaceIndex);
        }
        {
            std::lock_guard lock(handledMutex_);
            ++handled_;
        }
        handledChanged_.notify_all();
    }
}

void OSCListener::notePath(const NetworkEndpoint& from, unsigned interfaceIndex, bool admitted) {
    const std::string key = from.description();
    const auto found = paths_.find(key);
    if (found != paths_.end() && found->second == interfaceIndex) return;
    // A sender without the PIN may name itself from any number of ports: its lines share the
    // budget, leaving room for the lockout lines, and a path left unsaid is not remembered.
    if (!admitted && !unpairedLog_->take(kLockoutLinesKept)) return;
    if (found == paths_.end() && paths_.size() >= kMaxTrackedPaths) paths_.clear();
    paths_[key] = interfaceIndex;
    log().info(strprintf("OSC connection via [%s]", UdpSocket::interfaceDescription(interfaceIndex).c_str()));
}

void OSCListener::handleDatagram(const uint8_t* data, size_t size, const NetworkEndpoint& from,
                                 unsigned interfaceIndex) {
    auto message = size > 0 ? OSCCodec::decode(data, size) : std::nullopt;
    auto address = message ? gate_->admit(message->address) : std::nullopt;
    notePath(from, interfaceIndex, address.has_value());
    if (!address) return;
    const float value = OSCCodec::clampValue(message->value);
    mainQueue_.post([this, alive = guard_.watch(), from, address = std::move(*address), value] {
        if (alive.expired()) return;
        if (onIPhoneConnected) onIPhoneConnected(from);
        // The callback above may have destroyed the listener.
        if (alive.expired()) return;
        dispatch(address, value);
    });
}

} // namespace orevant
