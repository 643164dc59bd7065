// orevant-control-latency: measures, against a running headless agent started with
// --latency-trace FILE, the time from sending an OSC volume message to the end of the first
// output cycle of the simulated device that carries the new gain target. Sends one change at a
// time, each with a distinct level, and matches the agent's trace lines to its own send times
// (both on CLOCK_MONOTONIC, so agent and client must run on the same machine).
#include "app/companion_command.h"
#include "platform/linux/udp_socket.h"
#include "remote/osc_codec.h"
#include "remote/osc_ports.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

long long monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Trace lines from `offset` on; advances `offset` past every complete line read.
std::vector<std::string> newLines(const std::string& path, std::streamoff& offset) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    if (!in) return lines;
    in.seekg(offset);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    offset += static_cast<std::streamoff>(start);
    return lines;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
    const auto low = static_cast<size_t>(std::floor(rank));
    const auto high = static_cast<size_t>(std::ceil(rank));
    return values[low] + (values[high] - values[low]) * (rank - static_cast<double>(low));
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Control latency of a running headless OREVANT agent (see --latency-trace of orevant)."};
    std::string host = "127.0.0.1", pin, target = "org.example.MusicPlayer", trace;
    uint16_t port = orevant::kCompanionCommandPort;
    int count = 200;
    double timeoutSeconds = 2.0;
    app.add_option("--host", host, "Host of the agent")->capture_default_str();
    app.add_option("--port", port, "OSC port of the agent")->capture_default_str();
    app.add_option("--pin", pin, "The agent's pairing PIN")->required()->envname("OREVANT_PIN");
    app.add_option("--target", target, "Control target whose volume is changed")->capture_default_str();
    app.add_option("--trace", trace, "The agent's --latency-trace file")->required();
    app.add_option("--count", count, "Number of changes")->capture_default_str()->check(CLI::PositiveNumber);
    app.add_option("--timeout", timeoutSeconds, "Seconds to wait for each change")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    orevant::UdpSocket socket;
    if (int rc = socket.open(orevant::UdpSocket::Family::ipv4)) {
        std::cerr << "orevant-control-latency: " << orevant::UdpSocket::errorText(rc) << "\n";
        return 1;
    }
    std::streamoff offset = 0;
    newLines(trace, offset); // skip what earlier changes left
    std::vector<double> latencies;
    uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        // A pause of 0...25 ms, so that sends fall anywhere in the audio cycle instead of right
        // after the cycle that ended the previous change.
        seed = seed * 1664525u + 1013904223u;
        std::this_thread::sleep_for(std::chrono::microseconds((seed >> 8) % 25000));
        // Distinct levels, alternating low and high, so that every change is a real change.
        const float level = (i % 2 ? 0.8f : 0.3f) + 0.0001f * static_cast<float>(i % 1000);
        orevant::CompanionMessage message;
        try {
            message = orevant::CompanionCommand::volume(pin, target, std::to_string(level));
        } catch (const std::invalid_argument& error) {
            std::cerr << "orevant-control-latency: " << error.what() << "\n";
            return 2;
        }
        const auto bytes = orevant::OSCCodec::encode(message.address, message.value);
        const long long sent = monotonicNanos();
        if (int rc = socket.sendTo(bytes.data(), bytes.size(), host, port)) {
            std::cerr << "orevant-control-latency: send failed: " << orevant::UdpSocket::errorText(rc) << "\n";
            return 1;
        }
        bool matched = false;
        const long long deadline = sent + static_cast<long long>(timeoutSeconds * 1e9);
        while (!matched && monotonicNanos() < deadline) {
            for (const std::string& line : newLines(trace, offset)) {
                std::istringstream fields(line);
                long long at = 0;
                std::string id;
                double value = 0;
                if (!(fields >> at >> id >> value) || id != target) continue;
                if (std::fabs(value - static_cast<double>(message.value)) > 1e-5) continue;
                latencies.push_back(static_cast<double>(at - sent) / 1e6);
                matched = true;
            }
            if (!matched) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!matched) {
            std::cerr << "orevant-control-latency: change " << i + 1 << " never reached the output (wrong PIN, target "
                      << "or trace file?)\n";
            return 1;
        }
    }
    std::printf("control latency over %zu changes: median %.2f ms, p99 %.2f ms (min %.2f, max %.2f)\n",
                latencies.size(), percentile(latencies, 50), percentile(latencies, 99),
                *std::min_element(latencies.begin(), latencies.end()),
                *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}
