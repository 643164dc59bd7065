#pragma once
// One connection to the PipeWire daemon: context, core and registry; the nodes, clients,
// devices and the "default" metadata bound so that their state reaches the mirror; the calls
// that change the graph (objects, params, metadata); and reconnection when the daemon goes.
//
// Threads: every method with the loop's lock held (PipeWireLoop::Lock), from any thread but an
// IO thread. The events run on the loop thread with the lock held; they must not block.
#include "platform/pipewire/pipewire_mirror.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct pw_context;
struct pw_core;
struct pw_metadata;
struct pw_proxy;
struct pw_registry;
struct spa_source;

namespace orevant {

class PipeWireLoop;

class PipeWireSession {
public:
    struct Events {
        std::function<void()> changed;                        // the mirror changed
        std::function<void(const PipeWireNode&)> nodeUpdated; // a node appeared or its properties grew
        std::function<void(uint32_t id)> globalRemoved;       // before the mirror forgets it
        std::function<void(uint32_t subject, const std::string& key, const char* value)> metadataChanged;
        std::function<void()> metadataBound; // a new "default" metadata object
        std::function<void()> disconnected;  // the daemon went; the core is still there
        std::function<void()> connected;     // after a reconnection settled
    };

    PipeWireSession(PipeWireLoop& loop, Events events);
    ~PipeWireSession();
    PipeWireSession(const PipeWireSession&) = delete;
    PipeWireSession& operator=(const PipeWireSession&) = delete;

    // Connects and fills the mirror (three round trips), waiting at most `seconds`. Not on the
    // loop thread.
    bool connect(double seconds);
    bool isConnected() const { return core_ != nullptr && !lost_; }
    PipeWireMirror& mirror() { return mirror_; }
    const PipeWireMirror& mirror() const { return mirror_; }
    pw_core* core() const { return core_; }
    pw_context* context() const { return context_; }

    // A round trip to the daemon: everything asked before it has been handled when it returns
    // true. Not on the loop thread.
    bool sync(double seconds);
    // Creates an object through a factory; null on failure. The proxy belongs to the caller
    // (pw_proxy_destroy), and the object goes with it or with our connection.
    pw_proxy* createObject(const std::string& factory, const char* type, uint32_t version, const PropertyMap& props);
    // The global id a created proxy was bound to, once the daemon said so; 0 until then.
    uint32_t boundID(pw_proxy* proxy) const;
    // A failure the daemon reported for the proxy (negative errno), 0 if none.
    int proxyError(pw_proxy* proxy) const;
    // Sets (value) or clears (null) a key of the "default" metadata. False without metadata.
    bool setMetadata(uint32_t subject, const std::string& key, const char* type, const char* value);
    bool hasMetadata() const { return metadata_ != nullptr; }
    // Writes a device node's volume: through its card's route where it has one (saved, as
    // desktop mixers do), else through the node's Props. Absent fields are left alone.
    bool setVolume(uint32_t node, bool output, std::optional<float> channelVolume, std::optional<bool> mute);

private:
    struct Bound;
    struct Created;
    friend struct SessionCallbacks;

    bool startConnect();
    void teardown();
    void scheduleReconnect(double seconds);
    void bind(uint32_t id, const char* type, uint32_t version);

    PipeWireLoop& loop_;
    Events events_;
    PipeWireMirror mirror_;
    pw_context* context_ = nullptr;
    pw_core* core_ = nullptr;
    pw_registry* registry_ = nullptr;
    struct Hooks;
    std::unique_ptr<Hooks> hooks_;
    std::map<uint32_t, std::unique_ptr<Bound>> bound_;
    std::map<pw_proxy*, std::unique_ptr<Created>> created_;
    pw_metadata* metadata_ = nullptr;
    uint32_t metadataID_ = 0;
    int pendingSync_ = -1;
    bool syncDone_ = false;
    bool initialSyncDone_ = false;
    int syncRounds_ = 0;
    bool lost_ = false;         // the daemon went; the timer tears the core down
    bool reconnecting_ = false; // `connected` is due once the mirror is full again
    spa_source* reconnectTimer_ = nullptr;
};

} // namespace orevant
