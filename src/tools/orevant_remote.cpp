// orevant-remote: the phone companion on the command line. Sends the companion's OSC messages,
// each carrying the pairing PIN, to a running agent, and prints the "/app/list" and "/meters"
// documents the agent sends back to port 9001 of this host.
#include "app/companion_command.h"
#include "platform/linux/udp_socket.h"
#include "remote/osc_codec.h"
#include "remote/osc_ports.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using orevant::CompanionCommand;
using orevant::CompanionMessage;
using orevant::UdpSocket;

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = orevant::kCompanionCommandPort;
    uint16_t replyPort = orevant::kCompanionReplyPort;
    std::string pin;
    double wait = 0;
    bool pretty = false;
};

void printDocument(const CompanionCommand::StringMessage& message, bool pretty) {
    std::string text = message.text;
    if (pretty) {
        auto json = nlohmann::json::parse(text, nullptr, false);
        if (!json.is_discarded()) text = json.dump(2);
    }
    std::cout << message.address << " " << text << std::endl;
}

// Prints what arrives on the reply socket until `seconds` pass (< 0: no limit) or `count`
// documents were printed (0: no limit).
int receiveReplies(UdpSocket& socket, double seconds, int count, bool pretty) {
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<uint8_t> buffer(65536);
    int printed = 0;
    while (count == 0 || printed < count) {
        int timeoutMs = -1;
        if (seconds >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            timeoutMs = static_cast<int>(left);
        }
        UdpSocket::Datagram datagram;
        const int rc = socket.receive(buffer.data(), buffer.size(), datagram, timeoutMs);
        if (rc == UdpSocket::kTimedOut) break;
        if (rc != 0) {
            std::cerr << "orevant-remote: receive failed: " << UdpSocket::errorText(rc) << "\n";
            return 1;
        }
        if (auto message = CompanionCommand::decodeStringMessage(buffer.data(), datagram.size)) {
            printDocument(*message, pretty);
            ++printed;
        }
    }
    return 0;
}

int run(const Options& options, const std::optional<CompanionMessage>& message, bool listen, double listenSeconds,
        int listenCount) {
    UdpSocket socket;
    if (int rc = socket.open(UdpSocket::Family::ipv4)) {
        std::cerr << "orevant-remote: cannot open a UDP socket: " << UdpSocket::errorText(rc) << "\n";
        return 1;
    }
    const bool wantsReplies = listen || options.wait > 0;
    // Sending from the reply port keeps the exchange on one port pair.
    if (int rc = socket.bind("", options.replyPort)) {
        if (wantsReplies) {
            std::cerr << "orevant-remote: cannot receive on port " << options.replyPort << ": "
                      << UdpSocket::errorText(rc) << "\n";
            return 1;
        }
    }
    if (message) {
        const auto bytes = orevant::OSCCodec::encode(message->address, message->value);
        if (int rc = socket.sendTo(bytes.data(), bytes.size(), options.host, options.port)) {
            std::cerr << "orevant-remote: cannot send to " << options.host << ":" << options.port << ": "
                      << UdpSocket::errorText(rc) << "\n";
            return 1;
        }
    }
    if (listen) return receiveReplies(socket, listenSeconds, listenCount, options.pretty);
    if (options.wait > 0) return receiveReplies(socket, options.wait, 0, options.pretty);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"orevant-remote: control a running OREVANT agent as the phone companion does.\n"
                 "Every command carries the pairing PIN the agent prints at start (or set OREVANT_PIN).\n"
                 "Replies (\"/app/list\", \"/meters\") come back to port 9001 of this host."};
    app.require_subcommand(1);
    Options options;
    app.add_option("--host", options.host, "Host of the agent")->capture_default_str();
    app.add_option("--port", options.port, "OSC port of the agent")->capture_default_str();
    app.add_option("--pin", options.pin, "The agent's six-digit pairing PIN")->envname("OREVANT_PIN");
    app.add_option("--reply-port", options.replyPort, "Port on which replies arrive")->capture_default_str();
    app.add_option("--wait", options.wait, "After sending, print replies for this many seconds");
    app.add_flag("--pretty", options.pretty, "Indent the JSON documents");

    std::string target, level, onOff;
    int number = 0;
    double listenSeconds = -1;
    int listenCount = 0;

    auto* volume = app.add_subcommand("volume", "Set a level: an application's bundle ID, system_output, "
                                                "system_input, bus:main, bus:phones or device:<UID>");
    volume->add_option("target", target, "What to set")->required();
    volume->add_option("level", level, "0...1, or a percentage such as 50%")->required();

    auto* cue = app.add_subcommand("cue", "Put an application on the PHONES cue, or take it off");
    cue->add_option("app", target, "Bundle ID")->required();
    cue->add_option("state", onOff, "on or off")->required();

    auto* cueVolume = app.add_subcommand("cue-volume", "Set an application's cue level");
    cueVolume->add_option("app", target, "Bundle ID")->required();
    cueVolume->add_option("level", level, "0...1, or a percentage")->required();

    auto* slot = app.add_subcommand("slot", "Put a target into a console slot (an empty target clears it)");
    slot->add_option("slot", number, "Slot number, 0...7")->required();
    slot->add_option("target", target, "Control target");

    auto* panic = app.add_subcommand("panic", "Silence every application, or end that");
    panic->add_option("state", onOff, "on or off")->required();

    auto* record = app.add_subcommand("record", "Start or stop recording");
    record->add_option("state", onOff, "on or off")->required();

    auto* recall = app.add_subcommand("recall", "Recall a scene");
    recall->add_option("index", number, "Scene number, from 0")->required();

    auto* save = app.add_subcommand("save", "Save the current mix as a new scene");

    auto* control = app.add_subcommand("control", "Send a numbered generic control (as learned by MIDI learn)");
    control->add_option("number", number, "Control number")->required();
    control->add_option("level", level, "0...1, or a percentage")->required();

    auto* listen = app.add_subcommand("listen", "Say hello to the agent and print the documents it sends back");
    listen->add_option("--seconds", listenSeconds, "Stop after this many seconds (default: never)");
    listen->add_option("--count", listenCount, "Stop after this many documents (default: no limit)");

    CLI11_PARSE(app, argc, argv);

    std::optional<CompanionMessage> message;
    try {
        const std::string& pin = options.pin;
        if (pin.empty()) throw std::invalid_argument("give the agent's PIN with --pin (or OREVANT_PIN)");
        if (*volume)
            message = CompanionCommand::volume(pin, target, level);
        else if (*cue)
            message = CompanionCommand::cue(pin, target, onOff);
        else if (*cueVolume)
            message = CompanionCommand::cueVolume(pin, target, level);
        else if (*slot)
            message = CompanionCommand::slot(pin, number, target);
        else if (*panic)
            message = CompanionCommand::panic(pin, onOff);
        else if (*record)
            message = CompanionCommand::record(pin, onOff);
        else if (*recall)
            message = CompanionCommand::recallScene(pin, number);
        else if (*save)
            message = CompanionCommand::saveScene(pin);
        else if (*control)
            message = CompanionCommand::control(pin, number, level);
        else if (*listen)
            message = CompanionCommand::hello(pin);
    } catch (const std::invalid_argument& error) {
        std::cerr << "orevant-remote: " << error.what() << "\n";
        return 2;
    }
    return run(options, message, static_cast<bool>(*listen), listenSeconds, listenCount);
}
