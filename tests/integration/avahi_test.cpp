// DNS-SD advertisement against a real avahi-daemon that scripts/test-daemons.sh starts in a
// network namespace of its own, on a private system bus; what it publishes is found with
// avahi-browse. Needs root (the namespace); skipped with a message otherwise.
#include "platform/linux/avahi_service_advertiser.h"
#include "support/scoped_env.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

namespace orevant {
namespace {

constexpr double kWait = 10.0; // real seconds; reached only when something is wrong

// The services of `type` avahi-browse sees at the end of one browse (about a second): one
// "name port" line each, sorted.
std::vector<std::string> browseOnce(const std::string& type) {
    const std::string command = "timeout 10 avahi-browse --terminate --resolve --parsable --no-db-lookup " + type;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    std::map<std::string, std::string> ports; // by name
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        // "=;interface;protocol;name;type;domain;host;address;port;txt" when resolved,
        // "-;interface;protocol;name;type;domain" when gone.
        std::vector<std::string> fields;
        std::istringstream parts(std::string(line, std::strcspn(line, "\n")));
        for (std::string field; std::getline(parts, field, ';');) fields.push_back(field);
        if (fields.size() < 6) continue;
        std::string name; // avahi-browse escapes characters as \DDD (decimal)
        const std::string& raw = fields[3];
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i + 1]))) {
                name += static_cast<char>(std::stoi(raw.substr(i + 1, 3)));
                i += 3;
            } else {
                name += raw[i];
            }
        }
        if (fields[0] == "=" && fields.size() >= 9) ports[name] = fields[8];
        if (fields[0] == "-") ports.erase(name);
    }
    ::pclose(pipe);
    std::vector<std::string> found;
    for (const auto& [name, port] : ports) found.push_back(name + " " + port);
    std::sort(found.begin(), found.end());
    return found;
}

// Browses until avahi-browse sees `expected`, a few times at most (a withdrawn service leaves
// the daemon's cache about a second after its goodbye); fails with what it saw last.
void expectBrowsed(const std::string& type, const std::vector<std::string>& expected) {
    std::vector<std::string> seen;
    for (int attempt = 0; attempt < 5; ++attempt) {
        seen = browseOnce(type);
        if (seen == expected) break;
    }
    EXPECT_EQ(seen, expected) << type;
}

// Waits, bounded, until `condition` holds, woken by the advertisers' change callbacks.
class Changes {
public:
    void watch(AvahiServiceAdvertiser& advertiser) {
        advertiser.setOnChange([this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
    }
    bool waitUntil(const std::function<bool()>& condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(kWait), condition);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

TEST(AvahiTest, NoDaemonMeansNoAdvertiser) {
    test::TestDaemon bus("bus");
    ASSERT_TRUE(bus.started()) << bus.reason();
    // In a child process: the D-Bus library reads the system bus address once per process.
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.busAddress().c_str(), 1);
            std::_Exit(AvahiServiceAdvertiser::create() == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(AvahiTest, PublishesRenamesOnCollisionAndWithdraws) {
    test::TestDaemon avahi("avahi");
    if (avahi.status() == 2) GTEST_SKIP() << "a real avahi-daemon needs root here: " << avahi.reason();
    ASSERT_TRUE(avahi.started()) << avahi.reason();
    const test::ScopedEnv systemBus("DBUS_SYSTEM_BUS_ADDRESS", avahi.busAddress().c_str());

    auto first = AvahiServiceAdvertiser::create();
    auto second = AvahiServiceAdvertiser::create();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    Changes changes;
    changes.watch(*first);
    changes.watch(*second);

    // Two services of one advertiser; a second agent under the same name gets Avahi's next name.
    first->advertise("OREVANT on studio", "_orevant-osc._udp", 9000);
    first->advertise("OREVANT on studio", "_http._tcp", 8080);
    ASSERT_TRUE(changes.waitUntil(
        [&] { return first->publishedName("_orevant-osc._udp") && first->publishedName("_http._tcp"); }));
    second->advertise("OREVANT on studio", "_orevant-osc._udp", 9100);
    ASSERT_TRUE(changes.waitUntil([&] { return second->publishedName("_orevant-osc._udp").has_value(); }));
    EXPECT_EQ(second->publishedName("_orevant-osc._udp"), "OREVANT on studio #2");
    expectBrowsed("_orevant-osc._udp", {"OREVANT on studio #2 9100", "OREVANT on studio 9000"});
    expectBrowsed("_http._tcp", {"OREVANT on studio 8080"});

    // Withdrawing one type keeps the other; destruction withdraws the rest.
    first->withdraw("_http._tcp");
    EXPECT_FALSE(first->publishedName("_http._tcp"));
    expectBrowsed("_http._tcp", {});
    EXPECT_EQ(first->publishedName("_orevant-osc._udp"), "OREVANT on studio");
    first.reset();
    expectBrowsed("_orevant-osc._udp", {"OREVANT on studio #2 9100"});
    second.reset();
}

} // namespace
} // namespace orevant
