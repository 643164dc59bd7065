#pragma once
// DNS-SD service advertisement (Avahi on Linux). Main queue only.
#include "platform/logger.h"

#include <cstdint>
#include <string>

namespace orevant {

class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;
    // Advertises the instance `name` of `type` (e.g. "_orevant-osc._udp") on `port` in the
    // default domain, without a TXT record, until withdraw(type) or destruction. One service per
    // type: advertising a type again replaces its earlier announcement.
    virtual void advertise(const std::string& name, const std::string& type, uint16_t port) = 0;
    // Withdraws the service of `type`; nothing to do when there is none.
    virtual void withdraw(const std::string& type) = 0;
};

// The instance name the agent's services are announced under: "OREVANT on <host name>".
std::string serviceInstanceName();

// Stands in where no DNS-SD daemon can be reached: nothing is advertised, and the first request
// says so once in the log so that a phone that cannot find the agent is explained.
class NullServiceAdvertiser final : public ServiceAdvertiser {
public:
    void advertise(const std::string& name, const std::string& type, uint16_t port) override {
        if (logged_) return;
        logged_ = true;
        Logger("ServiceAdvertiser")
            .notice(strprintf("Service advertisement unavailable; %s (%s) on port %u is not advertised", name.c_str(),
                              type.c_str(), static_cast<unsigned>(port)));
    }
    void withdraw(const std::string&) override {}

private:
    bool logged_ = false;
};

} // namespace orevant
