#pragma once
// One D-Bus connection (sd-bus) with a thread of its own that dispatches it. sd-bus objects are
// not thread-safe, so everything that touches the bus runs on that thread: post() hands work
// to it, and replies and signals are dispatched there.
//
// Threads: open*(), post() and the destructor from any thread but the bus thread; bus() only
// inside work running on the bus thread.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct sd_bus;

namespace orevant {

class DBusConnection {
public:
    using Work = std::function<void(sd_bus*)>;

    // The system bus ($DBUS_SYSTEM_BUS_ADDRESS or the standard socket), or the bus at
    // `address` (tests: a private bus). Null when the bus cannot be reached.
    static std::unique_ptr<DBusConnection> openSystem();
    static std::unique_ptr<DBusConnection> open(const std::string& address);
    ~DBusConnection();
    DBusConnection(const DBusConnection&) = delete;
    DBusConnection& operator=(const DBusConnection&) = delete;

    // Runs `work` on the bus thread, after work posted before it.
    void post(Work work);
    // Runs `work` on the bus thread and waits for it (never from the bus thread).
    void runAndWait(Work work);
    // True when `name` has an owner on the bus (a blocking round trip; not on the bus thread).
    bool hasOwner(const std::string& name);

private:
    DBusConnection(sd_bus* bus, int wakeFd);
    void loop();

    sd_bus* bus_;
    int wakeFd_;
    std::mutex mutex_;
    std::vector<Work> pending_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orevant
