#pragma once
// DNS-SD advertisement through the Avahi daemon (libavahi-client): one entry group per service
// type, renamed with Avahi's alternative name on a collision, re-announced when the daemon
// restarts, withdrawn by withdraw() or destruction. Each service is logged once when it is
// published and once when it fails.
//
// Threads: advertise() and withdraw() on the main queue; Avahi's callbacks, and the change
// callback, run on the Avahi poll thread; publishedName() from any thread.
#include "platform/service_advertiser.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

namespace orevant {

class AvahiServiceAdvertiser final : public ServiceAdvertiser {
public:
    // Null when no Avahi daemon answers on the system bus.
    static std::unique_ptr<AvahiServiceAdvertiser> create();
    ~AvahiServiceAdvertiser() override;
    AvahiServiceAdvertiser(const AvahiServiceAdvertiser&) = delete;
    AvahiServiceAdvertiser& operator=(const AvahiServiceAdvertiser&) = delete;

    void advertise(const std::string& name, const std::string& type, uint16_t port) override;
    void withdraw(const std::string& type) override;

    // The name `type` is published under now; nothing while it is not (yet) published.
    std::optional<std::string> publishedName(const std::string& type) const;
    // Runs after a service was published or failed (diagnostics, tests).
    void setOnChange(std::function<void()> onChange);

private:
    struct Service {
        AvahiServiceAdvertiser* owner = nullptr;
        std::string name;
        std::string type;
        uint16_t port = 0;
        AvahiEntryGroup* group = nullptr;
        bool published = false;
        bool loggedPublished = false;
        bool loggedFailure = false;
    };

    AvahiServiceAdvertiser();
    bool connect();
    void clientChanged(AvahiClient* client, int state);
    void groupChanged(Service& service, AvahiEntryGroup* group, int state);
    void registerService(AvahiClient* client, Service& service);
    void failed(Service& service, const char* reason);
    void dropGroups();
    void notify();

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    std::map<std::string, Service> services_; // by type; guarded by the poll's lock
    std::function<void()> onChange_;
};

} // namespace orevant
