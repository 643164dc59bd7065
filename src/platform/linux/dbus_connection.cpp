#include "platform/linux/dbus_connection.h"

#include "platform/logger.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <future>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

namespace orevant {

namespace {

std::unique_ptr<DBusConnection> adopt(sd_bus* bus, std::unique_ptr<DBusConnection> (*make)(sd_bus*, int)) {
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        sd_bus_flush_close_unref(bus);
        return nullptr;
    }
    return make(bus, wakeFd);
}

uint64_t monotonicMicros() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

} // namespace

DBusConnection::DBusConnection(sd_bus* bus, int wakeFd) : bus_(bus), wakeFd_(wakeFd) {
    thread_ = std::thread([this] { loop(); });
}

std::unique_ptr<DBusConnection> DBusConnection::openSystem() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return nullptr;
    return adopt(bus, [](sd_bus* b, int fd) { return std::unique_ptr<DBusConnection>(new DBusConnection(b, fd)); });
}

std::unique_ptr<DBusConnection> DBusConnection::open(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return adopt(bus, [](sd_bus* b, int fd) { return std::unique_ptr<DBusConnection>(new DBusConnection(b, fd)); });
}

DBusConnection::~DBusConnection() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
    ::close(wakeFd_);
}

void DBusConnection::post(Work work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        pending_.push_back(std::move(work));
    }
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void DBusConnection::runAndWait(Work work) {
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    post([work = std::move(work), done](sd_bus* bus) {
        work(bus);
        done->set_value();
    });
    future.wait();
}

bool DBusConnection::hasOwner(const std::string& name) {
    bool owned = false;
    runAndWait([&](sd_bus* bus) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        int has = 0;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", &error, &reply, "s", name.c_str()) >= 0 &&
            sd_bus_message_read(reply, "b", &has) >= 0) {
            owned = has != 0;
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    });
    return owned;
}

void DBusConnection::loop() {
    pthread_setname_np(pthread_self(), "orevant.dbus");
    bool connected = true;
    for (;;) {
        std::vector<Work> work;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            work.swap(pending_);
        }
        uint64_t drained;
        (void)!::read(wakeFd_, &drained, sizeof drained);
        for (Work& w : work) w(bus_);
        if (!work.empty()) continue; // the work may have queued messages: process before waiting

        int r = connected ? sd_bus_process(bus_, nullptr) : 0;
        if (r > 0) continue;
        if (r < 0 && connected) {
            connected = false;
            Logger("DBus").error(strprintf("D-Bus connection lost: %s", strerror(-r)));
        }

        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
        int timeoutMs = -1;
        if (connected) {
            fds[1].fd = sd_bus_get_fd(bus_);
            const int events = sd_bus_get_events(bus_);
            fds[1].events = static_cast<short>(events < 0 ? 0 : events);
            uint64_t until = 0;
            if (sd_bus_get_timeout(bus_, &until) >= 0 && until != UINT64_MAX) {
                const uint64_t now = monotonicMicros();
                timeoutMs = until <= now ? 0 : static_cast<int>(std::min<uint64_t>((until - now + 999) / 1000, 60000));
            }
        }
        if (::poll(fds, connected ? 2 : 1, timeoutMs) < 0 && errno != EINTR) return;
    }
}

} // namespace orevant
