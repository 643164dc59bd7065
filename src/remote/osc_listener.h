#pragma once
// The companion's receiving side: a UDP listener (port 9000 on every interface by default)
// whose own receive thread, the "com.brenlake.orevant.osc" queue, decodes each datagram, passes
// it through the PIN gate and hands admitted messages to the main queue in arrival order. There
// each message first calls onIPhoneConnected with the sender's endpoint, then the callback its
// address selects (see OSCCallbacks).
//
// A port that cannot be bound at start (another program holds it) is said plainly once and
// tried again every 5 seconds; "OSC Listener ready on port ..." announces when listening starts.
// Senders without the PIN can cause at most 10 log lines a minute in all (LogBudget).
//
// Threads: construction, stop(), destruction and the callbacks belong to the main queue;
// setPIN() and the read-only accessors may be called from any thread.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"
#include "remote/osc_callbacks.h"
#include "remote/osc_ports.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace orevant {

class HostClock;
class LogBudget;
class PINGate;
class ServiceAdvertiser;
class UdpSocket;

class OSCListener : public OSCCallbacks {
public:
    static constexpr uint16_t kDefaultPort = kCompanionCommandPort;
    static constexpr const char* kServiceType = "_orevant-osc._udp";

    static constexpr double kRetrySeconds = 5.0;
    static constexpr size_t kUnpairedLogLines = 10;
    static constexpr double kUnpairedLogWindowSeconds = 60.0;

    // Starts listening at once (or retrying, see above). Port 0 takes any free port (see
    // port()). `clock` times the lockout after bad PINs.
    OSCListener(MainQueue& mainQueue, const HostClock& clock, ServiceAdvertiser& advertiser,
                uint16_t port = kDefaultPort);
    ~OSCListener();
    OSCListener(const OSCListener&) = delete;
    OSCListener& operator=(const OSCListener&) = delete;

    // Any thread. Replaces the PIN messages must carry; the failure count and lockout stay.
    void setPIN(const std::string& pin);
    // Main queue. Closes the socket and ends the receive thread; idempotent.
    void stop();

    bool isListening() const;
    // The bound port; 0 when not listening.
    uint16_t port() const { return boundPort_; }
    // The port asked for at construction (0: any).
    uint16_t requestedPort() const { return requestedPort_; }
    // Diagnostics: the gate in front of the callbacks.
    const PINGate& pinGate() const { return *gate_; }
    // The web companion's login passes the same gate: one failure count, one lockout.
    PINGate& pinGate() { return *gate_; }
    // Main queue. Not listening yet, and trying again every kRetrySeconds.
    bool isWaitingForPort() const { return retryTask_.isValid(); }

    // What the receive thread does with one datagram from `from`: decode, PIN gate, the path
    // log line, and the hand-over of an admitted message to the main queue. Receive thread, or
    // any one thread while no datagram arrives on the socket (the fuzz harness).
    void handleDatagram(const uint8_t* data, size_t size, const NetworkEndpoint& from, unsigned interfaceIndex);

    // Diagnostics and tests: datagrams the receive thread has finished with (dropped or handed
    // to the main queue), and a wait for that count with a deadline that is only reached when
    // something is wrong.
    size_t datagramsHandled() const;
    bool waitUntilHandled(size_t count, double timeoutSeconds) const;

private:
    // Binds requestedPort_; false when it could not (a retry is then scheduled).
    bool tryStart();
    void receiveLoop();
    void notePath(const NetworkEndpoint& from, unsigned interfaceIndex, bool admitted);

    MainQueue& mainQueue_;
    ServiceAdvertiser& advertiser_;
    const uint16_t requestedPort_;
    std::unique_ptr<LogBudget> unpairedLog_;
    std::unique_ptr<PINGate> gate_;
    TaskHandle retryTask_;
    bool reportedStartFailure_ = false;
    std::unique_ptr<UdpSocket> listener_;
    std::thread receiveThread_;
    uint16_t boundPort_ = 0;
    // Main-queue tasks hold this weakly: a destroyed listener ends their work quietly.
    LifetimeGuard guard_;

    // Receive thread only: the interface last seen per remote endpoint, for the path log line.
    std::unordered_map<std::string, unsigned> paths_;

    mutable std::mutex handledMutex_;
    mutable std::condition_variable handledChanged_;
    size_t handled_ = 0;
};

} // namespace orevant
