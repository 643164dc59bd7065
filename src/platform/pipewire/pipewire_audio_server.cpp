#include "platform/pipewire/pipewire_audio_server.h"

#include "platform/logger.h"
#include "platform/pipewire/pipewire_loop.h"
#include "platform/pipewire/pipewire_session.h"
#include "platform/pipewire/pipewire_tap_graph.h"
#include "platform/pipewire/seam_state.h"
#include "platform/property_listeners.h"

#include <algorithm>

namespace orevant {

struct PipeWireAudioServer::Impl {
    explicit Impl(MainQueue& queue) : listeners(queue) {}

    // Lock held: the seam's new view, and a notification for every property that changed.
    void recompute() {
        SeamState next = session->mirror().seamState(graph->aggregateIDs());
        graph->addTo(next);
        const auto changes = SeamState::changes(state, next);
        state = std::move(next);
        for (const auto& c : changes) listeners.notify(c.object, c.selector, c.scope);
    }

    PipeWireLoop loop;
    PropertyListeners listeners;
    std::unique_ptr<PipeWireSession> session;
    std::unique_ptr<PipeWireTapGraph> graph;
    SeamState state;
};

PipeWireAudioServer::PipeWireAudioServer(MainQueue& mainQueue, double timeoutSeconds)
    : impl_(std::make_unique<Impl>(mainQueue)) {
    Impl* impl = impl_.get();
    if (!impl->loop.isRunning()) return;
    PipeWireLoop::Lock lock(impl->loop);
    PipeWireSession::Events events;
    events.changed = [impl] {
        if (impl->graph) impl->recompute();
    };
    events.nodeUpdated = [impl](const PipeWireNode& node) {
        if (impl->graph) impl->graph->nodeUpdated(node);
    };
    events.globalRemoved = [impl](uint32_t id) {
        if (impl->graph) impl->graph->globalRemoved(id);
    };
    events.metadataChanged = [impl](uint32_t subject, const std::string& key, const char* value) {
        if (impl->graph) impl->graph->metadataChanged(subject, key, value);
    };
    events.metadataBound = [impl] {
        if (impl->graph) impl->graph->metadataBound();
    };
    events.disconnected = [impl] {
        if (impl->graph) impl->graph->disconnected();
    };
    impl->session = std::make_unique<PipeWireSession>(impl->loop, std::move(events));
    impl->graph = std::make_unique<PipeWireTapGraph>(impl->loop, *impl->session);
    if (!impl->session->connect(timeoutSeconds)) return;
    impl->recompute();
}

PipeWireAudioServer::~PipeWireAudioServer() {
    if (!impl_->loop.isRunning()) return;
    PipeWireLoop::Lock lock(impl_->loop);
    impl_->graph.reset();
    impl_->session.reset();
}

bool PipeWireAudioServer::isConnected() const {
    if (!impl_->session) return false;
    PipeWireLoop::Lock lock(impl_->loop);
    return impl_->session->isConnected();
}

// ---- Properties: answered from the seam's view ----

OSStatus PipeWireAudioServer::getPropertyDataSize(AudioObjectID object, const PropertyAddress& address,
                                                  uint32_t& size) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    if (!impl_->state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl_->state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    if (const auto* b = std::get_if<std::vector<uint8_t>>(&p->value)) {
        size = static_cast<uint32_t>(b->size());
    } else if (std::holds_alternative<std::string>(p->value)) {
        size = 8; // a string reference
    } else {
        size = static_cast<uint32_t>(8 * std::get<std::vector<std::string>>(p->value).size());
    }
    return status::noErr;
}

OSStatus PipeWireAudioServer::getPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t& size,
                                              void* data) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    if (!impl_->state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl_->state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    const auto* b = std::get_if<std::vector<uint8_t>>(&p->value);
    if (!b) return status::badPropertySize;
    if (size < b->size() && size % 4 != 0) return status::badPropertySize;
    const uint32_t n = std::min<uint32_t>(size, static_cast<uint32_t>(b->size()));
    if (n > 0) std::memcpy(data, b->data(), n);
    size = n;
    return status::noErr;
}

OSStatus PipeWireAudioServer::getPropertyString(AudioObjectID object, const PropertyAddress& address,
                                                std::string& out) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    if (!impl_->state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl_->state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    const auto* s = std::get_if<std::string>(&p->value);
    if (!s) return status::badPropertySize;
    out = *s;
    return status::noErr;
}

OSStatus PipeWireAudioServer::getPropertyStringList(AudioObjectID object, const PropertyAddress& address,
                                                    std::vector<std::string>& out) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    if (!impl_->state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl_->state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    const auto* s = std::get_if<std::vector<std::string>>(&p->value);
    if (!s) return status::badPropertySize;
    out = *s;
    return status::noErr;
}

OSStatus PipeWireAudioServer::isPropertySettable(AudioObjectID object, const PropertyAddress& address, bool& settable) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    if (!impl_->state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl_->state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    settable = p->settable;
    return status::noErr;
}

OSStatus PipeWireAudioServer::setPropertyData(AudioObjectID object, const PropertyAddress& address, uint32_t size,
                                              const void* data) {
    if (!impl_->session) return status::unspecified;
    PipeWireLoop::Lock lock(impl_->loop);
    Impl& impl = *impl_;
    if (!impl.state.hasObject(object)) return status::badObject;
    const SeamState::Property* p = impl.state.find(object, address.selector, address.scope);
    if (!p) return status::unknownProperty;
    if (!p->settable) return status::illegalOperation;
    const auto* b = std::get_if<std::vector<uint8_t>>(&p->value);
    if (!b || b->size() != size || size != 4) return status::badPropertySize;
    PipeWireMirror& mirror = impl.session->mirror();

    if (object == kAudioObjectSystemObject) {
        AudioObjectID device = 0;
        std::memcpy(&device, data, 4);
        const PipeWireNode* node = mirror.nodeOfDevice(device);
        if (!node) return status::badObject;
        const std::string name = PipeWireMapping::get(node->props, "node.name").value_or("");
        const bool output = address.selector == sel::defaultOutputDevice;
        const std::string json = PipeWireMapping::defaultNodeJSON(name);
        if (!impl.session->setMetadata(0, output ? "default.configured.audio.sink" : "default.configured.audio.source",
                                       "Spa:String:JSON", json.c_str()))
            return status::unspecified;
        // The session manager answers with the new default; until then it reads as written.
        (output ? mirror.defaultSink : mirror.defaultSource) = name;
    } else {
        const PipeWireNode* node = mirror.nodeOfDevice(object);
        if (!node) return status::badObject;
        const bool output = address.scope != scope::input;
        std::optional<float> volume;
        std::optional<bool> mute;
        if (address.selector == sel::virtualMainVolume) {
            float v = 0;
            std::memcpy(&v, data, 4);
            volume = PipeWireMapping::channelVolumeFromControl(v);
        } else {
            uint32_t m = 0;
            std::memcpy(&m, data, 4);
            mute = m != 0;
        }
        if (!impl.session->setVolume(node->id, output, volume, mute)) return status::unspecified;
    }
    impl.recompute();
    return status::noErr;
}

// ---- Listeners ----

OSStatus PipeWireAudioServer::addPropertyListener(AudioObjectID object, const PropertyAddress& address,
                                                  PropertyListenerBlock block, ListenerID& outID) {
    if (!impl_->session) return status::unspecified;
    {
        PipeWireLoop::Lock lock(impl_->loop);
        if (!impl_->state.hasObject(object)) return status::badObject;
    }
    outID = impl_->listeners.add(object, address, std::move(block));
    return status::noErr;
}

OSStatus PipeWireAudioServer::removePropertyListener(AudioObjectID object, const PropertyAddress& address,
                                                     ListenerID id) {
    return impl_->listeners.remove(object, address, id) ? status::noErr : status::illegalOperation;
}

// ---- Taps, aggregates, IO ----

#define OREVANT_WITH_GRAPH(call)                                                                                       \
    if (!impl_->session) return status::unspecified;                                                                   \
    PipeWireLoop::Lock lock(impl_->loop);                                                                              \
    const OSStatus result = impl_->graph->call;                                                                        \
    impl_->recompute();                                                                                                \
    return result

OSStatus PipeWireAudioServer::createProcessTap(const TapDescription& description, AudioObjectID& outTap) {
    OREVANT_WITH_GRAPH(createProcessTap(description, impl_->state, outTap));
}
OSStatus PipeWireAudioServer::destroyProcessTap(AudioObjectID tap) { OREVANT_WITH_GRAPH(destroyProcessTap(tap)); }
OSStatus PipeWireAudioServer::createAggregateDevice(const AggregateDescription& description, AudioObjectID& outDevice) {
    OREVANT_WITH_GRAPH(createAggregateDevice(description, impl_->state, outDevice));
}
OSStatus PipeWireAudioServer::destroyAggregateDevice(AudioObjectID device) {
    OREVANT_WITH_GRAPH(destroyAggregateDevice(device));
}
OSStatus PipeWireAudioServer::createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) {
    OREVANT_WITH_GRAPH(createIOProc(device, std::move(block), outID));
}
OSStatus PipeWireAudioServer::destroyIOProc(AudioObjectID device, IOProcID id) {
    OREVANT_WITH_GRAPH(destroyIOProc(device, id));
}
OSStatus PipeWireAudioServer::startDevice(AudioObjectID device, IOProcID id) {
    OREVANT_WITH_GRAPH(startDevice(device, id));
}
OSStatus PipeWireAudioServer::stopDevice(AudioObjectID device, IOProcID id) {
    OREVANT_WITH_GRAPH(stopDevice(device, id));
}

#undef OREVANT_WITH_GRAPH

std::string PipeWireAudioServer::tapSinkName(AudioObjectID tap) const {
    if (!impl_->session) return {};
    PipeWireLoop::Lock lock(impl_->loop);
    return impl_->graph->tapSinkName(tap);
}

uint64_t PipeWireAudioServer::ioCycles(AudioObjectID device) const {
    if (!impl_->session) return 0;
    PipeWireLoop::Lock lock(impl_->loop);
    return impl_->graph->ioCycles(device);
}

bool PipeWireAudioServer::roundTrip() {
    if (!impl_->session) return false;
    PipeWireLoop::Lock lock(impl_->loop);
    return impl_->session->sync(PipeWireTapGraph::kWaitSeconds);
}

} // namespace orevant
