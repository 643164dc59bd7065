#include "platform/pipewire/pipewire_session.h"

#include "platform/logger.h"
#include "platform/pipewire/pipewire_api.h"
#include "platform/pipewire/pipewire_loop.h"

#include <cstring>
#include <unistd.h>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("PipeWireAudioServer");
    return logger;
}

constexpr double kReconnectSeconds = 0.5;
constexpr uint32_t kMaxChannels = 64;

PropertyMap toMap(const spa_dict* dict) {
    PropertyMap out;
    if (!dict) return out;
    const spa_dict_item* item;
    spa_dict_for_each(item, dict) {
        if (item->key && item->value) out[item->key] = item->value;
    }
    return out;
}

uint32_t toU32(const PropertyMap& props, const char* key) {
    auto v = PipeWireMapping::getInt(props, key);
    return v && *v >= 0 && *v <= UINT32_MAX ? static_cast<uint32_t>(*v) : 0;
}

// Channel volumes and mute of a Props object; false when it carries no channel volumes.
bool parseVolumes(const spa_pod* pod, std::vector<float>& volumes, bool& mute) {
    if (!pod || !spa_pod_is_object_type(pod, SPA_TYPE_OBJECT_Props)) return false;
    bool found = false;
    const auto* object = reinterpret_cast<const spa_pod_object*>(pod);
    const spa_pod_prop* prop;
    SPA_POD_OBJECT_FOREACH(object, prop) {
        if (prop->key == SPA_PROP_channelVolumes) {
            float values[kMaxChannels];
            const uint32_t n = spa_pod_copy_array(&prop->value, SPA_TYPE_Float, values, kMaxChannels);
            volumes.assign(values, values + n);
            found = n > 0;
        } else if (prop->key == SPA_PROP_mute) {
            bool m = false;
            if (spa_pod_get_bool(&prop->value, &m) == 0) mute = m;
        }
    }
    return found;
}

// Builds a Props object with the given channel volumes (all the same) and mute.
spa_pod* buildProps(spa_pod_builder* b, std::optional<float> volume, uint32_t channels, std::optional<bool> mute) {
    spa_pod_frame f;
    spa_pod_builder_push_object(b, &f, SPA_TYPE_OBJECT_Props, SPA_PARAM_Props);
    if (volume && channels > 0) {
        float values[kMaxChannels];
        const uint32_t n = std::min(channels, kMaxChannels);
        for (uint32_t i = 0; i < n; ++i) values[i] = *volume;
        spa_pod_builder_prop(b, SPA_PROP_channelVolumes, 0);
        spa_pod_builder_array(b, sizeof(float), SPA_TYPE_Float, n, values);
    }
    if (mute) {
        spa_pod_builder_prop(b, SPA_PROP_mute, 0);
        spa_pod_builder_bool(b, *mute);
    }
    return static_cast<spa_pod*>(spa_pod_builder_pop(b, &f));
}
} // namespace

// A global we bound to follow its state (node, client, device).
struct PipeWireSession::Bound {
    PipeWireSession* session = nullptr;
    uint32_t id = 0;
    std::string type;
    pw_proxy* proxy = nullptr;
    spa_hook objectListener{};
    spa_hook proxyListener{};
};

// A proxy of an object we created (tap sink, link): its bound id and its errors.
struct PipeWireSession::Created {
    PipeWireSession* session = nullptr;
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    uint32_t boundID = 0;
    int error = 0;
};

struct PipeWireSession::Hooks {
    spa_hook core{};
    spa_hook registry{};
    spa_hook metadata{};
};

// The C callbacks, each handing over to the session.
struct SessionCallbacks {
    static void coreInfo(void* data, const pw_core_info* info) {
        auto* s = static_cast<PipeWireSession*>(data);
        if (!info || !(info->change_mask & PW_CORE_CHANGE_MASK_PROPS)) return;
        if (auto rate = PipeWireMapping::getInt(toMap(info->props), "default.clock.rate"); rate && *rate > 0)
            s->mirror_.graphRate = static_cast<double>(*rate);
    }

    static void coreDone(void* data, uint32_t id, int seq) {
        auto* s = static_cast<PipeWireSession*>(data);
        if (id != PW_ID_CORE || seq != s->pendingSync_) return;
        if (!s->initialSyncDone_) {
            // The registry's globals, then the bound objects' info and params, then what those caused.
            if (++s->syncRounds_ < 3) {
                s->pendingSync_ = pw_core_sync(s->core_, PW_ID_CORE, 0);
                return;
            }
            s->initialSyncDone_ = true;
            if (s->events_.changed) s->events_.changed();
            if (s->reconnecting_) {
                s->reconnecting_ = false;
                log().notice("Reconnected to PipeWire");
                if (s->events_.connected) s->events_.connected();
            }
        } else {
            s->syncDone_ = true;
        }
        s->loop_.signal();
    }

    static void coreError(void* data, uint32_t id, int seq, int res, const char* message) {
        (void)seq;
        auto* s = static_cast<PipeWireSession*>(data);
        if (id == PW_ID_CORE && res == -EPIPE) {
            if (s->lost_) return;
            log().error("Lost the connection to PipeWire; reconnecting");
            s->lost_ = true;
            // The core is not torn down inside its own event: the timer does it.
            s->scheduleReconnect(0.0);
            s->loop_.signal();
            return;
        }
        for (auto& [proxy, created] : s->created_) {
            if (pw_proxy_get_id(proxy) == id) created->error = res;
        }
        log().debug(strprintf("PipeWire error on %u: %s (%d)", id, message ? message : "", res));
        s->loop_.signal();
    }

    static void global(void* data, uint32_t id, uint32_t permissions, const char* type, uint32_t version,
                       const spa_dict* dict) {
        (void)permissions;
        auto* s = static_cast<PipeWireSession*>(data);
        PipeWireMirror& m = s->mirror_;
        const PropertyMap props = toMap(dict);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
            PipeWireNode node;
            node.id = id;
            node.serial = static_cast<uint64_t>(PipeWireMapping::getInt(props, "object.serial").value_or(id));
            node.props = props;
            m.nodes[id] = node;
            s->bind(id, type, std::min<uint32_t>(version, PW_VERSION_NODE));
            if (s->events_.nodeUpdated) s->events_.nodeUpdated(m.nodes[id]);
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
            PipeWirePort port;
            port.id = id;
            port.node = toU32(props, "node.id");
            port.index = toU32(props, "port.id");
            port.isOutput = PipeWireMapping::get(props, "port.direction") == "out";
            port.isMonitor = PipeWireMapping::getBool(props, "port.monitor");
            port.channel = PipeWireMapping::get(props, "audio.channel").value_or("");
            m.ports[id] = port;
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
            m.clients[id] = PipeWireClient{id, props};
            s->bind(id, type, std::min<uint32_t>(version, PW_VERSION_CLIENT));
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0) {
            m.devices[id] = PipeWireDevice{id, props, {}};
            s->bind(id, type, std::min<uint32_t>(version, PW_VERSION_DEVICE));
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
            m.links[id] = PipeWireLink{id, toU32(props, "link.output.node"), toU32(props, "link.output.port"),
                                       toU32(props, "link.input.node"), toU32(props, "link.input.port")};
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
            if (PipeWireMapping::get(props, "metadata.name") != "default" || s->metadata_) return;
            s->metadata_ = static_cast<pw_metadata*>(
                pw_registry_bind(s->registry_, id, type, std::min<uint32_t>(version, PW_VERSION_METADATA), 0));
            if (!s->metadata_) return;
            s->metadataID_ = id;
            static const pw_metadata_events events = {PW_VERSION_METADATA_EVENTS, &SessionCallbacks::metadataProperty};
            pw_metadata_add_listener(s->metadata_, &s->hooks_->metadata, &events, s);
            if (s->events_.metadataBound) s->events_.metadataBound();
            return;
        } else {
            return;
        }
        if (s->events_.changed) s->events_.changed();
    }

    static void globalRemove(void* data, uint32_t id) {
        auto* s = static_cast<PipeWireSession*>(data);
        if (s->events_.globalRemoved) s->events_.globalRemoved(id);
        PipeWireMirror& m = s->mirror_;
        m.nodes.erase(id);
        m.ports.erase(id);
        m.clients.erase(id);
        m.devices.erase(id);
        m.links.erase(id);
        if (auto it = s->bound_.find(id); it != s->bound_.end()) {
            pw_proxy_destroy(it->second->proxy); // its removal hook erases it
        }
        if (s->metadata_ && id == s->metadataID_) {
            // The session manager restarted; its new metadata object is bound when it appears.
            spa_hook_remove(&s->hooks_->metadata);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s->metadata_));
            s->metadata_ = nullptr;
            s->metadataID_ = 0;
            m.defaultSink.reset();
            m.defaultSource.reset();
        }
        if (s->events_.changed) s->events_.changed();
        s->loop_.signal();
    }

    static int metadataProperty(void* data, uint32_t subject, const char* key, const char* type, const char* value) {
        (void)type;
        auto* s = static_cast<PipeWireSession*>(data);
        PipeWireMirror& m = s->mirror_;
        if (!key) {
            if (subject == PW_ID_CORE) {
                m.defaultSink.reset();
                m.defaultSource.reset();
            }
        } else if (subject == PW_ID_CORE && std::strcmp(key, "default.audio.sink") == 0) {
            m.defaultSink = value ? PipeWireMapping::defaultNodeName(value) : std::nullopt;
        } else if (subject == PW_ID_CORE && std::strcmp(key, "default.audio.source") == 0) {
            m.defaultSource = value ? PipeWireMapping::defaultNodeName(value) : std::nullopt;
        }
        if (key && s->events_.metadataChanged) s->events_.metadataChanged(subject, key, value);
        if (s->events_.changed) s->events_.changed();
        return 0;
    }

    static void nodeInfo(void* data, const pw_node_info* info) {
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        PipeWireSession* s = b->session;
        auto it = s->mirror_.nodes.find(b->id);
        if (!info || it == s->mirror_.nodes.end()) return;
        PipeWireNode& node = it->second;
        if (info->change_mask & PW_NODE_CHANGE_MASK_STATE) node.state = pw_node_state_as_string(info->state);
        if (info->change_mask & PW_NODE_CHANGE_MASK_PROPS) {
            for (auto& [k, v] : toMap(info->props)) node.props[k] = v;
            if (s->events_.nodeUpdated) s->events_.nodeUpdated(node);
        }
        if (s->events_.changed) s->events_.changed();
        s->loop_.signal();
    }

    static void nodeParam(void* data, int seq, uint32_t id, uint32_t index, uint32_t next, const spa_pod* param) {
        (void)seq;
        (void)index;
        (void)next;
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        PipeWireSession* s = b->session;
        auto it = s->mirror_.nodes.find(b->id);
        if (it == s->mirror_.nodes.end() || !param) return;
        PipeWireNode& node = it->second;
        if (id == SPA_PARAM_Props) {
            std::vector<float> volumes;
            bool mute = node.mute;
            if (parseVolumes(param, volumes, mute)) {
                node.hasVolume = true;
                node.volumes = std::move(volumes);
            }
            node.mute = mute;
        } else if (id == SPA_PARAM_Format) {
            uint32_t mediaType = 0, mediaSubtype = 0;
            spa_audio_info_raw raw{};
            if (spa_format_parse(param, &mediaType, &mediaSubtype) >= 0 && mediaType == SPA_MEDIA_TYPE_audio &&
                mediaSubtype == SPA_MEDIA_SUBTYPE_raw && spa_format_audio_raw_parse(param, &raw) >= 0 && raw.rate > 0)
                node.rate = raw.rate;
        }
        if (s->events_.changed) s->events_.changed();
    }

    static void clientInfo(void* data, const pw_client_info* info) {
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        PipeWireSession* s = b->session;
        auto it = s->mirror_.clients.find(b->id);
        if (!info || it == s->mirror_.clients.end() || !(info->change_mask & PW_CLIENT_CHANGE_MASK_PROPS)) return;
        for (auto& [k, v] : toMap(info->props)) it->second.props[k] = v;
        if (s->events_.changed) s->events_.changed();
    }

    static void deviceInfo(void* data, const pw_device_info* info) {
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        PipeWireSession* s = b->session;
        auto it = s->mirror_.devices.find(b->id);
        if (!info || it == s->mirror_.devices.end() || !(info->change_mask & PW_DEVICE_CHANGE_MASK_PROPS)) return;
        for (auto& [k, v] : toMap(info->props)) it->second.props[k] = v;
        if (s->events_.changed) s->events_.changed();
    }

    static void deviceParam(void* data, int seq, uint32_t id, uint32_t index, uint32_t next, const spa_pod* param) {
        (void)seq;
        (void)next;
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        PipeWireSession* s = b->session;
        auto it = s->mirror_.devices.find(b->id);
        if (it == s->mirror_.devices.end() || id != SPA_PARAM_Route || !param) return;
        int32_t routeIndex = 0, routeDevice = 0;
        uint32_t direction = 0;
        const spa_pod* props = nullptr;
        if (spa_pod_parse_object(param, SPA_TYPE_OBJECT_ParamRoute, nullptr, SPA_PARAM_ROUTE_index,
                                 SPA_POD_Int(&routeIndex), SPA_PARAM_ROUTE_direction, SPA_POD_Id(&direction),
                                 SPA_PARAM_ROUTE_device, SPA_POD_Int(&routeDevice), SPA_PARAM_ROUTE_props,
                                 SPA_POD_OPT_Pod(&props)) < 0)
            return;
        auto& routes = it->second.routes;
        if (index == 0) routes.clear(); // a new enumeration of the active routes
        PipeWireRoute route;
        route.index = routeIndex;
        route.device = routeDevice;
        route.isOutput = direction == SPA_DIRECTION_OUTPUT;
        route.hasVolume = parseVolumes(props, route.volumes, route.mute);
        for (auto& existing : routes) {
            if (existing.device == route.device && existing.isOutput == route.isOutput) {
                existing = route;
                route.device = -1;
            }
        }
        if (route.device >= 0) routes.push_back(route);
        if (s->events_.changed) s->events_.changed();
    }

    static void boundRemoved(void* data) {
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        pw_proxy_destroy(b->proxy);
    }

    static void boundDestroyed(void* data) {
        auto* b = static_cast<PipeWireSession::Bound*>(data);
        spa_hook_remove(&b->objectListener);
        spa_hook_remove(&b->proxyListener);
        b->session->bound_.erase(b->id); // frees b
    }

    static void createdBound(void* data, uint32_t globalID) {
        auto* c = static_cast<PipeWireSession::Created*>(data);
        c->boundID = globalID;
        c->session->loop_.signal();
    }

    static void createdError(void* data, int seq, int res, const char* message) {
        (void)seq;
        (void)message;
        auto* c = static_cast<PipeWireSession::Created*>(data);
        c->error = res;
        c->session->loop_.signal();
    }

    static void createdDestroyed(void* data) {
        auto* c = static_cast<PipeWireSession::Created*>(data);
        spa_hook_remove(&c->listener);
        c->session->created_.erase(c->proxy); // frees c
    }

    static void reconnect(void* data, uint64_t expirations) {
        (void)expirations;
        auto* s = static_cast<PipeWireSession*>(data);
        if (s->lost_) {
            if (s->events_.disconnected) s->events_.disconnected();
            s->teardown();
            s->mirror_.reset();
            s->lost_ = false;
            if (s->events_.changed) s->events_.changed();
        }
        if (s->core_) return;
        s->reconnecting_ = true;
        if (!s->startConnect()) s->scheduleReconnect(kReconnectSeconds);
    }
};

namespace {
const pw_core_events kCoreEvents = {PW_VERSION_CORE_EVENTS,
                                    &SessionCallbacks::coreInfo,
                                    &SessionCallbacks::coreDone,
                                    nullptr,
                                    &SessionCallbacks::coreError,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    nullptr};
const pw_registry_events kRegistryEvents = {PW_VERSION_REGISTRY_EVENTS, &SessionCallbacks::global,
                                            &SessionCallbacks::globalRemove};
const pw_node_events kNodeEvents = {PW_VERSION_NODE_EVENTS, &SessionCallbacks::nodeInfo, &SessionCallbacks::nodeParam};
const pw_client_events kClientEvents = {PW_VERSION_CLIENT_EVENTS, &SessionCallbacks::clientInfo, nullptr};
const pw_device_events kDeviceEvents = {PW_VERSION_DEVICE_EVENTS, &SessionCallbacks::deviceInfo,
                                        &SessionCallbacks::deviceParam};
const pw_proxy_events kBoundProxyEvents = {PW_VERSION_PROXY_EVENTS,
                                           &SessionCallbacks::boundDestroyed,
                                           nullptr,
                                           &SessionCallbacks::boundRemoved,
                                           nullptr,
                                           nullptr};
const pw_proxy_events kCreatedProxyEvents = {PW_VERSION_PROXY_EVENTS,
                                             &SessionCallbacks::createdDestroyed,
                                             &SessionCallbacks::createdBound,
                                             nullptr,
                                             nullptr,
                                             &SessionCallbacks::createdError};
} // namespace

PipeWireSession::PipeWireSession(PipeWireLoop& loop, Events events)
    : loop_(loop), events_(std::move(events)), hooks_(std::make_unique<Hooks>()) {
    mirror_.ownPID = static_cast<int32_t>(::getpid());
    context_ = pw_context_new(loop_.loop(), nullptr, 0);
}

PipeWireSession::~PipeWireSession() {
    if (reconnectTimer_) pw_loop_destroy_source(loop_.loop(), reconnectTimer_);
    teardown();
    if (context_) pw_context_destroy(context_);
}

bool PipeWireSession::startConnect() {
    if (core_) return true;
    if (!context_) return false;
    core_ = pw_context_connect(context_, nullptr, 0);
    if (!core_) return false;
    pw_core_add_listener(core_, &hooks_->core, &kCoreEvents, this);
    registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry_, &hooks_->registry, &kRegistryEvents, this);
    initialSyncDone_ = false;
    syncRounds_ = 0;
    pendingSync_ = pw_core_sync(core_, PW_ID_CORE, 0);
    return true;
}

bool PipeWireSession::connect(double seconds) {
    if (!startConnect()) return false;
    if (loop_.waitFor([this] { return initialSyncDone_ || lost_; }, seconds) && !lost_) return true;
    teardown();
    mirror_.reset();
    lost_ = false;
    return false;
}

bool PipeWireSession::sync(double seconds) {
    if (!isConnected() || !initialSyncDone_) return false;
    syncDone_ = false;
    pendingSync_ = pw_core_sync(core_, PW_ID_CORE, 0);
    return loop_.waitFor([this] { return syncDone_ || lost_; }, seconds) && !lost_;
}

void PipeWireSession::bind(uint32_t id, const char* type, uint32_t version) {
    auto* proxy = static_cast<pw_proxy*>(pw_registry_bind(registry_, id, type, version, 0));
    if (!proxy) return;
    auto b = std::make_unique<Bound>();
    b->session = this;
    b->id = id;
    b->type = type;
    b->proxy = proxy;
    Bound* raw = b.get();
    if (auto old = bound_.find(id); old != bound_.end()) pw_proxy_destroy(old->second->proxy);
    bound_[id] = std::move(b);
    pw_proxy_add_listener(proxy, &raw->proxyListener, &kBoundProxyEvents, raw);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        pw_proxy_add_object_listener(proxy, &raw->objectListener, &kNodeEvents, raw);
        auto it = mirror_.nodes.find(id);
        if (it != mirror_.nodes.end() && PipeWireMapping::isDevice(PipeWireMapping::nodeKind(it->second.props))) {
            uint32_t params[] = {SPA_PARAM_Props, SPA_PARAM_Format};
            pw_node_subscribe_params(reinterpret_cast<pw_node*>(proxy), params, 2);
        }
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Client) == 0) {
        pw_proxy_add_object_listener(proxy, &raw->objectListener, &kClientEvents, raw);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Device) == 0) {
        pw_proxy_add_object_listener(proxy, &raw->objectListener, &kDeviceEvents, raw);
        uint32_t params[] = {SPA_PARAM_Route};
        pw_device_subscribe_params(reinterpret_cast<pw_device*>(proxy), params, 1);
    }
}

void PipeWireSession::teardown() {
    if (!core_) return;
    if (metadata_) {
        spa_hook_remove(&hooks_->metadata);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(metadata_));
        metadata_ = nullptr;
        metadataID_ = 0;
    }
    while (!bound_.empty()) pw_proxy_destroy(bound_.begin()->second->proxy);
    while (!created_.empty()) pw_proxy_destroy(created_.begin()->first);
    spa_hook_remove(&hooks_->registry);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
    registry_ = nullptr;
    spa_hook_remove(&hooks_->core);
    pw_core_disconnect(core_);
    core_ = nullptr;
    initialSyncDone_ = false;
    pendingSync_ = -1;
}

void PipeWireSession::scheduleReconnect(double seconds) {
    if (!reconnectTimer_) reconnectTimer_ = pw_loop_add_timer(loop_.loop(), &SessionCallbacks::reconnect, this);
    if (!reconnectTimer_) return;
    timespec value{};
    value.tv_sec = static_cast<time_t>(seconds);
    value.tv_nsec = static_cast<long>((seconds - static_cast<double>(value.tv_sec)) * 1e9);
    if (value.tv_sec == 0 && value.tv_nsec == 0) value.tv_nsec = 1; // zero would disarm the timer
    pw_loop_update_timer(loop_.loop(), reconnectTimer_, &value, nullptr, false);
}

pw_proxy* PipeWireSession::createObject(const std::string& factory, const char* type, uint32_t version,
                                        const PropertyMap& props) {
    if (!core_) return nullptr;
    pw_properties* p = pw_properties_new(nullptr, nullptr);
    for (const auto& [k, v] : props) pw_properties_set(p, k.c_str(), v.c_str());
    auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(core_, factory.c_str(), type, version, &p->dict, 0));
    pw_properties_free(p);
    if (!proxy) return nullptr;
    auto c = std::make_unique<Created>();
    c->session = this;
    c->proxy = proxy;
    pw_proxy_add_listener(proxy, &c->listener, &kCreatedProxyEvents, c.get());
    created_[proxy] = std::move(c);
    return proxy;
}

uint32_t PipeWireSession::boundID(pw_proxy* proxy) const {
    auto it = created_.find(proxy);
    return it == created_.end() ? 0 : it->second->boundID;
}

int PipeWireSession::proxyError(pw_proxy* proxy) const {
    auto it = created_.find(proxy);
    return it == created_.end() ? -ENOENT : it->second->error;
}

bool PipeWireSession::setMetadata(uint32_t subject, const std::string& key, const char* type, const char* value) {
    if (!metadata_) return false;
    pw_metadata_set_property(metadata_, subject, key.c_str(), value ? type : nullptr, value);
    return true;
}

bool PipeWireSession::setVolume(uint32_t nodeID, bool output, std::optional<float> channelVolume,
                                std::optional<bool> mute) {
    auto node = mirror_.nodes.find(nodeID);
    if (node == mirror_.nodes.end()) return false;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    if (const PipeWireRoute* route = mirror_.routeOf(node->second, output); route && route->hasVolume) {
        auto deviceID = PipeWireMapping::getInt(node->second.props, "device.id");
        auto proxy = deviceID ? bound_.find(static_cast<uint32_t>(*deviceID)) : bound_.end();
        if (proxy == bound_.end()) return false;
        spa_pod_frame f;
        spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_ParamRoute, SPA_PARAM_Route);
        spa_pod_builder_add(&b, SPA_PARAM_ROUTE_index, SPA_POD_Int(route->index), SPA_PARAM_ROUTE_device,
                            SPA_POD_Int(route->device), 0);
        spa_pod_builder_prop(&b, SPA_PARAM_ROUTE_props, 0);
        buildProps(&b, channelVolume, static_cast<uint32_t>(route->volumes.size()), mute);
        spa_pod_builder_add(&b, SPA_PARAM_ROUTE_save, SPA_POD_Bool(true), 0);
        auto* param = static_cast<spa_pod*>(spa_pod_builder_pop(&b, &f));
        pw_device_set_param(reinterpret_cast<pw_device*>(proxy->second->proxy), SPA_PARAM_Route, 0, param);
        // Seen at once, as the daemon will report it.
        auto& routes = mirror_.devices[static_cast<uint32_t>(*deviceID)].routes;
        for (auto& r : routes) {
            if (r.device != route->device || r.isOutput != output) continue;
            if (channelVolume) std::fill(r.volumes.begin(), r.volumes.end(), *channelVolume);
            if (mute) r.mute = *mute;
        }
        return true;
    }
    auto proxy = bound_.find(nodeID);
    if (proxy == bound_.end() || !node->second.hasVolume) return false;
    PipeWireNode& n = node->second;
    auto* param = buildProps(&b, channelVolume, static_cast<uint32_t>(n.volumes.size()), mute);
    pw_node_set_param(reinterpret_cast<pw_node*>(proxy->second->proxy), SPA_PARAM_Props, 0, param);
    if (channelVolume) std::fill(n.volumes.begin(), n.volumes.end(), *channelVolume);
    if (mute) n.mute = *mute;
    return true;
}

} // namespace orevant
