#pragma once
// The web companion's server: one TCP port serving the page (GET /), the PIN login (POST
// /login, through the OSC listener's PIN gate, so both companions share one failure count and
// lockout) and the WebSocket "/ws" that carries the state and meter documents out and the
// commands in. libwebsockets runs on the server's own thread; admitted commands are handed to
// the main queue in arrival order and dispatched through the same address table as OSC.
//
// Limits: request headers, login bodies and WebSocket messages are bounded in size, open
// connections and sessions in number, and each session's commands in rate. Nothing is logged
// per unauthenticated request.
//
// Threads: construction, destruction and every method belong to the main queue.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace orevant {

struct OSCCallbacks;
class PINGate;

class WebServer {
public:
    static constexpr uint16_t kDefaultPort = 9080;
    static constexpr size_t kMaxHeaderBytes = 4096;
    static constexpr size_t kMaxBodyBytes = 64;
    static constexpr size_t kMaxMessageBytes = 1024;
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxSessions = 8;
    static constexpr double kMaxCommandsPerSecond = 60.0;
    static constexpr int kTimeoutSeconds = 5;

    // Listens on `port` (0: any free port, see port()). `commands` and `gate` must outlive the
    // server. A port that cannot be bound leaves the server off (isListening() false).
    WebServer(MainQueue& mainQueue, PINGate& gate, const OSCCallbacks& commands, uint16_t port);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    bool isListening() const;
    uint16_t port() const;
    // Open WebSocket sessions (any thread).
    int sessionCount() const;

    // The latest documents; every session gets the newest of each as soon as it can take it.
    void publishState(std::string document);
    void publishMeters(std::string document);
    // Main queue: called after a session opened or closed.
    std::function<void()> onSessionsChanged;

    // Forgets every session token and closes every WebSocket (the PIN was reissued).
    void closeAllSessions();

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    std::thread serviceThread_;
    LifetimeGuard guard_;
};

} // namespace orevant
