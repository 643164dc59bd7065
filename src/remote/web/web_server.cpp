#include "remote/web/web_server.h"

#include "remote/osc_callbacks.h"
#include "remote/osc_codec.h"
#include "remote/pin_gate.h"
#include "remote/web/web_page.h"
#include "remote/web/web_session_tokens.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <libwebsockets.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <vector>

namespace orevant {

namespace {
constexpr const char* kCookieName = "orevant_session";
constexpr size_t kMaxAddressBytes = 300;

// One per connection, zeroed by the library; the HTTP part while it is a request, the session
// part once it is a WebSocket.
struct Connection {
    char body[WebServer::kMaxBodyBytes + 1];
    size_t bodyLength;
    bool bodyTooLong;
    bool isSession;
    uint64_t generation;
    uint64_t stateSent;
    uint64_t metersSent;
    double allowance;
    double lastCommandSeconds;
};

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string header(lws* wsi, lws_token_indexes token) {
    const int length = lws_hdr_total_length(wsi, token);
    if (length <= 0 || static_cast<size_t>(length) > WebServer::kMaxHeaderBytes) return {};
    std::string value(static_cast<size_t>(length) + 1, '\0');
    if (lws_hdr_copy(wsi, value.data(), length + 1, token) < 0) return {};
    value.resize(static_cast<size_t>(length));
    return value;
}

std::string cookieToken(lws* wsi) {
    const std::string cookies = header(wsi, WSI_TOKEN_HTTP_COOKIE);
    const std::string key = std::string(kCookieName) + "=";
    size_t at = 0;
    while ((at = cookies.find(key, at)) != std::string::npos) {
        if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
            const size_t begin = at + key.size();
            return cookies.substr(begin, cookies.find(';', begin) - begin);
        }
        at += key.size();
    }
    return {};
}

int respond(lws* wsi, unsigned status, const char* type, std::string_view body, const std::string& cookie = {}) {
    std::vector<unsigned char> buffer(LWS_PRE + 1024 + body.size());
    unsigned char* start = buffer.data() + LWS_PRE;
    unsigned char* p = start;
    unsigned char* end = start + 1024;
    if (lws_add_http_common_headers(wsi, status, type, body.size(), &p, end)) return -1;
    static constexpr const char* csp = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                                       "connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'";
    auto add = [&](const char* name, const std::string& value) {
        return lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>(name),
                                           reinterpret_cast<const unsigned char*>(value.data()),
                                           static_cast<int>(value.size()), &p, end);
    };
    if (add("content-security-policy:", csp) || add("cache-control:", "no-store") ||
        add("x-content-type-options:", "nosniff"))
        return -1;
    if (!cookie.empty() && add("set-cookie:", cookie)) return -1;
    if (lws_finalize_write_http_header(wsi, start, &p, end)) return -1;
    if (!body.empty()) {
        std::memcpy(p, body.data(), body.size());
        if (lws_write(wsi, p, body.size(), LWS_WRITE_HTTP_FINAL) != static_cast<int>(body.size())) return -1;
    }
    return lws_http_transaction_completed(wsi) ? -1 : 0;
}
} // namespace

struct WebServer::Shared {
    Shared(MainQueue& queue, PINGate& pinGate, const OSCCallbacks& table)
        : mainQueue(queue), gate(pinGate), commands(table) {}

    MainQueue& mainQueue;
    PINGate& gate;
    const OSCCallbacks& commands;
    std::weak_ptr<const char> alive;
    WebServer* owner = nullptr;
    lws_context* context = nullptr;
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> sessions{0};
    WebSessionTokens tokens;

    std::mutex documentsLock;
    std::string state;
    std::string meters;
    uint64_t stateVersion = 0;
    uint64_t metersVersion = 0;

    int login(lws* wsi, Connection& connection);
    bool admitsUpgrade(lws* wsi);
    int receive(Connection& connection, const char* data, size_t length);
    int write(lws* wsi, Connection& connection);
    void sessionsChanged(int delta);
};

void WebServer::Shared::sessionsChanged(int delta) {
    sessions += delta;
    mainQueue.post([this, alive = alive] {
        if (alive.expired()) return;
        if (owner->onSessionsChanged) owner->onSessionsChanged();
    });
}

int WebServer::Shared::login(lws* wsi, Connection& connection) {
    if (connection.bodyTooLong) return respond(wsi, 413, "text/plain", "too long");
    const std::string_view pin(connection.body, connection.bodyLength);
    // Only six digits reach the gate: anything else could name another address through it.
    const bool wellFormed =
        pin.size() == 6 && std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!wellFormed) return respond(wsi, 400, "text/plain", "six digits");
    if (!gate.admit("/a/" + std::string(pin) + "/web"))
        return respond(wsi, gate.isLockedOut() ? 429 : 403, "text/plain", gate.isLockedOut() ? "locked" : "wrong");
    const std::string token = tokens.issue();
    if (token.empty()) return respond(wsi, 503, "text/plain", "no token");
    return respond(wsi, 200, "text/plain", "ok",
                   std::string(kCookieName) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
}

bool WebServer::Shared::admitsUpgrade(lws* wsi) {
    // A page of another site must not drive the mixer with this browser's cookie.
    const std::string origin = header(wsi, WSI_TOKEN_ORIGIN);
    const std::string host = header(wsi, WSI_TOKEN_HOST);
    if (host.empty() || origin != "http://" + host) return false;
    if (!tokens.isValid(cookieToken(wsi))) return false;
    return sessions.load() < kMaxSessions;
}

int WebServer::Shared::receive(Connection& connection, const char* data, size_t length) {
    const double now = steadySeconds();
    connection.allowance = std::min(
        kMaxCommandsPerSecond, connection.allowance + (now - connection.lastCommandSeconds) * kMaxCommandsPerSecond);
    connection.lastCommandSeconds = now;
    if (connection.allowance < 1.0) return 0; // over the rate: dropped
    connection.allowance -= 1.0;
    const nlohmann::json message = nlohmann::json::parse(data, data + length, nullptr, false);
    if (!message.is_object()) return 0;
    const auto address = message.find("a");
    const auto value = message.find("v");
    if (address == message.end() || !address->is_string() || value == message.end() || !value->is_number()) return 0;
    std::string text = address->get<std::string>();
    if (text.empty() || text.size() > kMaxAddressBytes || text[0] != '/') return 0;
    const float level = OSCCodec::clampValue(value->get<float>());
    mainQueue.post([this, alive = alive, text = std::move(text), level] {
        if (alive.expired()) return;
        commands.dispatch(text, level);
    });
    return 0;
}

int WebServer::Shared::write(lws* wsi, Connection& connection) {
    if (connection.generation != tokens.generation()) return -1; // the PIN was reissued
    std::string document;
    bool more = false;
    {
        std::lock_guard lock(documentsLock);
        if (connection.stateSent != stateVersion) {
            document = "{\"state\":" + state + "}";
            connection.stateSent = stateVersion;
            more = connection.metersSent != metersVersion;
        } else if (connection.metersSent != metersVersion) {
            document = "{\"meters\":" + meters + "}";
            connection.metersSent = metersVersion;
        }
    }
    if (document.empty()) return 0;
    std::vector<unsigned char> buffer(LWS_PRE + document.size());
    std::memcpy(buffer.data() + LWS_PRE, document.data(), document.size());
    if (lws_write(wsi, buffer.data() + LWS_PRE, document.size(), LWS_WRITE_TEXT) < static_cast<int>(document.size()))
        return -1;
    if (more) lws_callback_on_writable(wsi);
    return 0;
}

namespace {
int callback(lws* wsi, lws_callback_reasons reason, void* user, void* in, size_t length) {
    auto* shared = static_cast<WebServer::Shared*>(lws_context_user(lws_get_context(wsi)));
    auto* connection = static_cast<Connection*>(user);
    switch (reason) {
    case LWS_CALLBACK_HTTP: {
        const std::string_view uri(static_cast<const char*>(in));
        if (lws_hdr_total_length(wsi, WSI_TOKEN_POST_URI) > 0) {
            if (uri == "/login") return 0; // the body follows
            return respond(wsi, 404, "text/plain", "not found");
        }
        if (uri == "/" || uri == "/index.html")
            return respond(wsi, 200, "text/html; charset=utf-8", webCompanionPage());
        return respond(wsi, 404, "text/plain", "not found");
    }
    case LWS_CALLBACK_HTTP_BODY:
        if (!connection) return -1;
        if (connection->bodyLength + length > WebServer::kMaxBodyBytes) {
            connection->bodyTooLong = true;
            return 0;
        }
        std::memcpy(connection->body + connection->bodyLength, in, length);
        connection->bodyLength += length;
        return 0;
    case LWS_CALLBACK_HTTP_BODY_COMPLETION:
        if (!connection) return -1;
        return shared->login(wsi, *connection);
    case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
        return shared->admitsUpgrade(wsi) ? 0 : 1;
    case LWS_CALLBACK_ESTABLISHED:
        connection->isSession = true;
        connection->generation = shared->tokens.generation();
        connection->allowance = WebServer::kMaxCommandsPerSecond;
        connection->lastCommandSeconds = steadySeconds();
        shared->sessionsChanged(+1);
        lws_callback_on_writable(wsi);
        return 0;
    case LWS_CALLBACK_CLOSED:
        if (connection && connection->isSession) shared->sessionsChanged(-1);
        if (connection) connection->isSession = false;
        return 0;
    case LWS_CALLBACK_RECEIVE:
        // One text message of bounded size per frame; anything else ends the session.
        if (!lws_is_first_fragment(wsi) || !lws_is_final_fragment(wsi) || lws_frame_is_binary(wsi) ||
            length > WebServer::kMaxMessageBytes)
            return -1;
        if (connection->generation != shared->tokens.generation()) return -1;
        return shared->receive(*connection, static_cast<const char*>(in), length);
    case LWS_CALLBACK_SERVER_WRITEABLE:
        return shared->write(wsi, *connection);
    case LWS_CALLBACK_EVENT_WAIT_CANCELLED:
        if (!shared->stopping) lws_callback_on_writable_all_protocol(lws_get_context(wsi), lws_get_protocol(wsi));
        return 0;
    default:
        return lws_callback_http_dummy(wsi, reason, user, in, length);
    }
}

const lws_protocols kProtocols[] = {
    {"orevant", callback, sizeof(Connection), WebServer::kMaxMessageBytes, 0, nullptr, 0},
    {nullptr, nullptr, 0, 0, 0, nullptr, 0},
};
} // namespace

WebServer::WebServer(MainQueue& mainQueue, PINGate& gate, const OSCCallbacks& commands, uint16_t port)
    : shared_(std::make_shared<Shared>(mainQueue, gate, commands)) {
    shared_->alive = guard_.watch();
    shared_->owner = this;
    lws_set_log_level(0, nullptr); // nothing per request, above all for strangers
    lws_context_creation_info info{};
    info.port = port; // 0: the kernel picks one
    info.protocols = kProtocols;
    info.user = shared_.get();
    info.max_http_header_data = kMaxHeaderBytes;
    info.max_http_header_pool = kMaxConnections;
    info.fd_limit_per_thread = kMaxConnections + 8;
    info.timeout_secs = kTimeoutSeconds;
    info.timeout_secs_ah_idle = kTimeoutSeconds;
    info.ka_time = 0;
    info.options = LWS_SERVER_OPTION_DISABLE_IPV6 | LWS_SERVER_OPTION_VALIDATE_UTF8;
    shared_->context = lws_create_context(&info);
    if (!shared_->context) return;
    if (lws_vhost* vhost = lws_get_vhost_by_name(shared_->context, "default"))
        shared_->port = static_cast<uint16_t>(lws_get_vhost_listen_port(vhost));
    if (shared_->port == 0) {
        lws_context_destroy(shared_->context);
        shared_->context = nullptr;
        return;
    }
    serviceThread_ = std::thread([shared = shared_] {
        while (!shared->stopping && lws_service(shared->context, 0) >= 0) {}
    });
}

WebServer::~WebServer() {
    if (!shared_->context) return;
    shared_->stopping = true;
    lws_cancel_service(shared_->context);
    serviceThread_.join();
    lws_context_destroy(shared_->context);
    guard_.end();
}

bool WebServer::isListening() const { return shared_->context != nullptr; }

uint16_t WebServer::port() const { return shared_->port; }

int WebServer::sessionCount() const { return shared_->sessions.load(); }

void WebServer::publishState(std::string document) {
    {
        std::lock_guard lock(shared_->documentsLock);
        shared_->state = std::move(document);
        ++shared_->stateVersion;
    }
    if (shared_->context) lws_cancel_service(shared_->context);
}

void WebServer::publishMeters(std::string document) {
    {
        std::lock_guard lock(shared_->documentsLock);
        shared_->meters = std::move(document);
        ++shared_->metersVersion;
    }
    if (shared_->context) lws_cancel_service(shared_->context);
}

void WebServer::closeAllSessions() {
    shared_->tokens.revokeAll();
    // Each session finds its generation stale at its next write and closes.
    if (shared_->context) lws_cancel_service(shared_->context);
}

} // namespace orevant
