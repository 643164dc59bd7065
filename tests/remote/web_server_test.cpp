// The web companion's server over real loopback TCP: hostile clients never take it down, and a
// paired page's panic still reaches the main queue afterwards.
#include "platform/manual_main_queue.h"
#include "remote/osc_callbacks.h"
#include "remote/pin_gate.h"
#include "remote/web/web_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orevant {
namespace {

constexpr const char* kPIN = "482915";

class Client {
public:
    explicit Client(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // What arrives until `marker` is seen, the peer closes or 2 s pass.
    std::string receiveUntil(const std::string& marker) {
        std::string text;
        char buffer[4096];
        while (text.find(marker) == std::string::npos) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    // One masked client frame (the mask is zero, which leaves the payload as it is).
    void sendFrame(const std::string& payload, unsigned char opcode = 0x81) {
        std::string frame(1, static_cast<char>(opcode));
        frame += static_cast<char>(0x80 | payload.size());
        frame += std::string(4, '\0');
        send(frame + payload);
    }

private:
    int fd_;
    bool connected_ = false;
};

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gate_.setPIN(kPIN);
        commands_.onPanicReceived = [this](bool on) { panics_.push_back(on); };
        server_ = std::make_unique<WebServer>(queue_, gate_, commands_, 0);
        ASSERT_TRUE(server_->isListening());
    }

    std::string login(const std::string& pin) {
        Client client(server_->port());
        client.send("POST /login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(pin.size()) +
                    "\r\n\r\n" + pin);
        return client.receiveUntil("\r\n\r\n");
    }
    static std::string cookieOf(const std::string& response) {
        const size_t at = response.find("orevant_session=");
        return at == std::string::npos ? "" : response.substr(at, response.find(';', at) - at);
    }
    std::string upgradeRequest(const std::string& cookie, const std::string& origin) const {
        const std::string host = "127.0.0.1:" + std::to_string(server_->port());
        return "GET /ws HTTP/1.1\r\nHost: " + host +
               "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Protocol: orevant\r\nOrigin: " +
               (origin.empty() ? "http://" + host : origin) + "\r\nCookie: " + cookie + "\r\n\r\n";
    }
    // A paired page sends panic; true when it reached the main queue's commands.
    bool panicReaches() {
        const std::string cookie = cookieOf(login(kPIN));
        Client page(server_->port());
        page.send(upgradeRequest(cookie, ""));
        if (page.receiveUntil("\r\n\r\n").find(" 101 ") == std::string::npos) return false;
        const size_t before = panics_.size();
        page.sendFrame(R"({"a":"/panic","v":1})");
        return queue_.runUntil([&] { return panics_.size() > before; }, 5.0);
    }

    ManualMainQueue queue_;
    PINGate gate_{queue_.hostClock()};
    OSCCallbacks commands_;
    std::vector<bool> panics_;
    std::unique_ptr<WebServer> server_;
};

TEST_F(WebServerTest, HostileRequestsAreRefusedAndPanicStillReachesTheMixer) {
    const std::string big(64 * 1024, 'x');
    struct Case {
        const char* fault; // what a careless server would do with it
        std::string bytes;
        const char* mustNotSee;
    };
    const Case cases[] = {
        {"header bigger than the pool wedges or overflows", "GET /" + big + " HTTP/1.1\r\nHost: a\r\n\r\n", " 200 "},
        {"login body unbounded", "POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: 65536\r\n\r\n" + big, " 200 "},
        {"not HTTP at all", std::string("\x16\x03\x01\xff\xff garbage\r\n\r\n"), " 200 "},
        {"upgrade without a session", upgradeRequest("", ""), " 101 "},
        {"upgrade with a forged token", upgradeRequest("orevant_session=0123", ""), " 101 "},
        {"upgrade from a foreign page", upgradeRequest(cookieOf(login(kPIN)), "http://evil.example"), " 101 "},
        {"slow client: half a request, then silence", "GET / HTTP/1.1\r\nHost:", " 200 "},
    };
    for (const Case& c : cases) {
        Client client(server_->port());
        ASSERT_TRUE(client.connected()) << c.fault;
        client.send(c.bytes);
        EXPECT_EQ(client.receiveUntil("\r\n\r\n").find(c.mustNotSee), std::string::npos) << c.fault;
        EXPECT_TRUE(panicReaches()) << c.fault;
    }
}

TEST_F(WebServerTest, MoreConnectionsAndSessionsThanTheLimitsAndGarbageFramesLeaveAPairedPageWorking) {
    const std::string cookie = cookieOf(login(kPIN));
    Client page(server_->port());
    page.send(upgradeRequest(cookie, ""));
    ASSERT_NE(page.receiveUntil("\r\n\r\n").find(" 101 "), std::string::npos);
    // Sessions beyond the limit are refused even with a valid cookie.
    std::vector<std::unique_ptr<Client>> sessions;
    int opened = 1;
    for (int i = 0; i < WebServer::kMaxSessions + 2; ++i) {
        sessions.push_back(std::make_unique<Client>(server_->port()));
        sessions.back()->send(upgradeRequest(cookie, ""));
        if (sessions.back()->receiveUntil("\r\n\r\n").find(" 101 ") != std::string::npos) ++opened;
    }
    EXPECT_EQ(opened, WebServer::kMaxSessions);
    // Garbage on an open session: text that is not JSON, then binary, then a length byte that lies.
    sessions[0]->sendFrame("{not json");
    sessions[0]->sendFrame("\xff\xfe not json", 0x82);
    sessions[0]->sendFrame(std::string(2000, '{'));
    std::vector<std::unique_ptr<Client>> crowd;
    for (int i = 0; i < WebServer::kMaxConnections + 16; ++i)
        crowd.push_back(std::make_unique<Client>(server_->port()));
    page.sendFrame(R"({"a":"/panic","v":1})");
    EXPECT_TRUE(queue_.runUntil([&] { return !panics_.empty(); }, 5.0));
}

TEST_F(WebServerTest, WrongPINsAreCountedByTheSharedGateAndReissuingClosesSessions) {
    for (int i = 0; i < PINGate::kMaxFailures; ++i) login("000000");
    EXPECT_TRUE(gate_.isLockedOut());
    EXPECT_TRUE(cookieOf(login(kPIN)).empty()); // the lockout holds for the right PIN too
    queue_.advance(PINGate::kLockoutSeconds + 1);
    const std::string cookie = cookieOf(login(kPIN));
    ASSERT_FALSE(cookie.empty());
    Client page(server_->port());
    page.send(upgradeRequest(cookie, ""));
    ASSERT_NE(page.receiveUntil("\r\n\r\n").find(" 101 "), std::string::npos);
    ASSERT_TRUE(queue_.runUntil([&] { return server_->sessionCount() == 1; }, 5.0));
    server_->closeAllSessions();
    EXPECT_TRUE(queue_.runUntil([&] { return server_->sessionCount() == 0; }, 5.0));
    Client again(server_->port());
    again.send(upgradeRequest(cookie, ""));
    EXPECT_EQ(again.receiveUntil("\r\n\r\n").find(" 101 "), std::string::npos);
}

} // namespace
} // namespace orevant
