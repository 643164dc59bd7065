#pragma once
// A daemon for an integration test, started and ended by scripts/test-daemons.sh in a folder of
// its own (a private D-Bus bus, a mock BlueZ on it, or a real avahi-daemon in a network
// namespace). The script waits, bounded, until the daemon answers.
#include "support/temp_dir.h"

#include <string>

namespace orevant::test {

class TestDaemon {
public:
    // `kind` is "bus", "bluez" or "avahi". Check started() before use; reason() says why not.
    explicit TestDaemon(const std::string& kind);
    ~TestDaemon();
    TestDaemon(const TestDaemon&) = delete;
    TestDaemon& operator=(const TestDaemon&) = delete;

    bool started() const { return started_; }
    // The script's exit status: 2 means the daemon cannot run here (not root).
    int status() const { return status_; }
    const std::string& reason() const { return reason_; }
    // The private bus's address.
    const std::string& busAddress() const { return address_; }

private:
    TempDir dir_;
    bool started_ = false;
    int status_ = 0;
    std::string reason_;
    std::string address_;
};

} // namespace orevant::test
