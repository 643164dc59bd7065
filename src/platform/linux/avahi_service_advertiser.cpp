#include "platform/linux/avahi_service_advertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("ServiceAdvertiser");
    return logger;
}

// Holds the Avahi poll's lock: the poll thread runs callbacks with it held.
class PollLock {
public:
    explicit PollLock(AvahiThreadedPoll* poll) : poll_(poll) { avahi_threaded_poll_lock(poll_); }
    ~PollLock() { avahi_threaded_poll_unlock(poll_); }
    PollLock(const PollLock&) = delete;
    PollLock& operator=(const PollLock&) = delete;

private:
    AvahiThreadedPoll* poll_;
};
} // namespace

AvahiServiceAdvertiser::AvahiServiceAdvertiser() = default;

std::unique_ptr<AvahiServiceAdvertiser> AvahiServiceAdvertiser::create() {
    std::unique_ptr<AvahiServiceAdvertiser> advertiser(new AvahiServiceAdvertiser());
    advertiser->poll_ = avahi_threaded_poll_new();
    if (!advertiser->poll_ || !advertiser->connect()) return nullptr;
    // With the "no fail" flag a missing daemon leaves the client connecting: nothing answers.
    if (avahi_client_get_state(advertiser->client_) == AVAHI_CLIENT_CONNECTING) return nullptr;
    if (avahi_threaded_poll_start(advertiser->poll_) < 0) return nullptr;
    return advertiser;
}

bool AvahiServiceAdvertiser::connect() {
    int error = 0;
    // "No fail": when the daemon goes away the client waits for it to come back.
    client_ = avahi_client_new(
        avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
        [](AvahiClient* client, AvahiClientState state, void* self) {
            static_cast<AvahiServiceAdvertiser*>(self)->clientChanged(client, state);
        },
        this, &error);
    return client_ != nullptr;
}

AvahiServiceAdvertiser::~AvahiServiceAdvertiser() {
    if (poll_) avahi_threaded_poll_stop(poll_);
    // Freeing the client frees its entry groups, which withdraws every service.
    if (client_) avahi_client_free(client_);
    if (poll_) avahi_threaded_poll_free(poll_);
}

void AvahiServiceAdvertiser::advertise(const std::string& name, const std::string& type, uint16_t port) {
    PollLock lock(poll_);
    auto existing = services_.find(type);
    if (existing != services_.end()) {
        if (existing->second.group) avahi_entry_group_free(existing->second.group);
        services_.erase(existing);
    }
    Service& service = services_[type];
    service.owner = this;
    service.name = name;
    service.type = type;
    service.port = port;
    if (client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING) registerService(client_, service);
}

void AvahiServiceAdvertiser::withdraw(const std::string& type) {
    PollLock lock(poll_);
    auto it = services_.find(type);
    if (it == services_.end()) return;
    if (it->second.group) avahi_entry_group_free(it->second.group);
    services_.erase(it);
}

std::optional<std::string> AvahiServiceAdvertiser::publishedName(const std::string& type) const {
    PollLock lock(poll_);
    auto it = services_.find(type);
    if (it == services_.end() || !it->second.published) return std::nullopt;
    return it->second.name;
}

void AvahiServiceAdvertiser::setOnChange(std::function<void()> onChange) {
    PollLock lock(poll_);
    onChange_ = std::move(onChange);
}

void AvahiServiceAdvertiser::notify() {
    if (onChange_) onChange_();
}

void AvahiServiceAdvertiser::clientChanged(AvahiClient* client, int state) {
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        for (auto& [type, service] : services_) registerService(client, service);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name changes: the services are announced again once the server runs.
        for (auto& [type, service] : services_) {
            if (service.group) avahi_entry_group_reset(service.group);
            service.published = false;
        }
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away: a new client waits for it and announces everything again.
            dropGroups();
            avahi_client_free(client);
            client_ = nullptr;
            if (!connect()) log().error("Cannot reconnect to the Avahi daemon");
        } else {
            for (auto& [type, service] : services_) failed(service, avahi_strerror(avahi_client_errno(client)));
        }
        break;
    default:
        break;
    }
}

void AvahiServiceAdvertiser::dropGroups() {
    for (auto& [type, service] : services_) {
        service.group = nullptr; // freed with the client
        service.published = false;
    }
}

void AvahiServiceAdvertiser::registerService(AvahiClient* client, Service& service) {
    if (!service.group) {
        service.group = avahi_entry_group_new(
            client,
            [](AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
                // A service's group is freed before the service is forgotten.
                auto* entry = static_cast<Service*>(userdata);
                entry->owner->groupChanged(*entry, group, state);
            },
            &service);
        if (!service.group) {
            failed(service, avahi_strerror(avahi_client_errno(client)));
            return;
        }
    }
    if (!avahi_entry_group_is_empty(service.group)) return;
    for (int attempt = 0; attempt < 32; ++attempt) {
        const int r = avahi_entry_group_add_service(service.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                    AvahiPublishFlags(0), service.name.c_str(), service.type.c_str(),
                                                    nullptr, nullptr, service.port, static_cast<const char*>(nullptr));
        if (r == AVAHI_ERR_COLLISION) {
            char* alternative = avahi_alternative_service_name(service.name.c_str());
            log().info(
                strprintf("Service name \"%s\" is taken; advertising as \"%s\"", service.name.c_str(), alternative));
            service.name = alternative;
            avahi_free(alternative);
            continue;
        }
        if (r < 0 || (avahi_entry_group_commit(service.group)) < 0) {
            failed(service, avahi_strerror(r < 0 ? r : avahi_client_errno(client)));
        }
        return;
    }
    failed(service, "no free service name");
}

void AvahiServiceAdvertiser::groupChanged(Service& service, AvahiEntryGroup* group, int state) {
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        service.published = true;
        if (!service.loggedPublished) {
            service.loggedPublished = true;
            log().notice(strprintf("Advertised \"%s\" (%s) on port %u", service.name.c_str(), service.type.c_str(),
                                   static_cast<unsigned>(service.port)));
        }
        notify();
        break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        // Another host announced the same name meanwhile.
        char* alternative = avahi_alternative_service_name(service.name.c_str());
        log().info(strprintf("Service name \"%s\" is taken; advertising as \"%s\"", service.name.c_str(), alternative));
        service.name = alternative;
        avahi_free(alternative);
        service.published = false;
        avahi_entry_group_reset(group);
        registerService(avahi_entry_group_get_client(group), service);
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        failed(service, avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
        break;
    default:
        break;
    }
}

void AvahiServiceAdvertiser::failed(Service& service, const char* reason) {
    service.published = false;
    if (!service.loggedFailure) {
        service.loggedFailure = true;
        log().error(strprintf("Cannot advertise \"%s\" (%s) on port %u: %s", service.name.c_str(), service.type.c_str(),
                              static_cast<unsigned>(service.port), reason));
    }
    notify();
}

} // namespace orevant
