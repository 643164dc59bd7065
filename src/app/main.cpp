// The agent's entry point: the command line, the single-instance rule, then the agent.
#include "app/agent_control_socket.h"
#include "app/command_line.h"
#include "app/headless_agent.h"
#include "app/signal_watcher.h"
#include "app/single_instance_check.h"
#include "platform/linux/journald_log_sink.h"
#include "platform/logger.h"
#include "ui/desktop_agent.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <variant>

int main(int argc, char** argv) {
    using namespace orevant;
    auto parsed = CommandLine::parse(argc, argv);
    if (auto* exit = std::get_if<CommandLine::Exit>(&parsed)) {
        std::fputs(exit->text.c_str(), exit->status == 0 ? stdout : stderr);
        return exit->status;
    }
    CommandLineOptions options = std::get<CommandLineOptions>(parsed);

    if (options.reissuePIN) {
        const auto reply = AgentControlSocket::request(AgentControlSocket::defaultPath(), "reissue-pin");
        if (!reply || reply->empty()) {
            std::fputs("orevant: no running agent answered\n", stderr);
            return 1;
        }
        std::printf("%s\n", reply->c_str());
        return 0;
    }
    // Before any thread exists, so that every thread leaves these signals to the watcher.
    SignalWatcher::blockTerminationSignals();
    SignalWatcher::ignoreBrokenPipe();
    // Until the agent's main queue runs, a request to end is granted at once: nothing is
    // attenuated and no take is open yet, and start-up may be waiting on something slow.
    SignalWatcher watcher([](int signal) { ::_exit(128 + signal); });
    watcher.start();
    Logger::setSink(JournaldLogSink::forStderr(LogLevel::info));

    auto instance = SingleInstanceCheck::run();
    if (instance.alert) {
        std::fprintf(stderr, "%s\n%s\n", instance.alert->messageText.c_str(), instance.alert->informativeText.c_str());
        return 0;
    }
    // The desktop where a display exists; without one no Qt platform plugin is ever loaded.
    if (!options.headless && DesktopAgent::hasDisplay()) return DesktopAgent::run(argc, argv, options, watcher);
    return HeadlessAgent::run(options, watcher);
}
