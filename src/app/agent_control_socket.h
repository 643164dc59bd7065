#pragma once
// A local-only door into the running agent: a unix socket (mode 0600, in the agent's private
// runtime folder) that takes one short command line per connection, runs it on the main queue
// and answers with one text. `orevant --reissue-pin` speaks through it.
//
// Threads: construction and destruction on the main queue; the socket is served by a thread of
// its own, which waits at most kAnswerSeconds for the main queue's answer.
#include "platform/main_queue.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace orevant {

class AgentControlSocket {
public:
    static constexpr const char* kFileName = "control";
    static constexpr size_t kMaxCommandBytes = 64;
    static constexpr double kAnswerSeconds = 2.0;

    // Main queue: the answer to one command ("" for an unknown one).
    using Handler = std::function<std::string(const std::string& command)>;

    AgentControlSocket(MainQueue& mainQueue, std::string path, Handler handler);
    ~AgentControlSocket();
    AgentControlSocket(const AgentControlSocket&) = delete;
    AgentControlSocket& operator=(const AgentControlSocket&) = delete;

    bool isListening() const { return listenFD_ >= 0; }

    // The socket in the agent's private runtime folder.
    static std::string defaultPath();
    // Sends `command` to the agent at `path`; its answer, or nothing when no agent answered.
    static std::optional<std::string> request(const std::string& path, const std::string& command);

private:
    void serve();
    void answer(int connection);

    MainQueue& mainQueue_;
    std::string path_;
    std::shared_ptr<Handler> handler_;
    int listenFD_ = -1;
    int wakeFD_ = -1;
    std::thread thread_;
};

} // namespace orevant
