#include "platform/pipewire/pipewire_tap_graph.h"

#include "platform/logger.h"
#include "platform/pipewire/pipewire_api.h"
#include "platform/pipewire/pipewire_loop.h"
#include "platform/pipewire/pipewire_session.h"
#include "platform/pipewire/pipewire_tap_filter.h"

#include <algorithm>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("PipeWireAudioServer");
    return logger;
}

using Kind = PipeWireMapping::NodeKind;

bool isTargetKey(const std::string& key) { return key == "target.object" || key == "target.node"; }

// The session manager gives up on a stream after this many of our re-routings fight another tool.
constexpr int kMaxReroutes = 3;
} // namespace

struct PipeWireTapGraph::Tap {
    TapDescription description;
    std::set<int32_t> pids;
    std::string sinkName;
    pw_proxy* sink = nullptr;
    uint32_t sinkNode = 0;
    bool alive = true;
    bool routing = false;
    std::map<uint32_t, int> routed; // stream node → times re-routed after someone else moved it
    std::set<uint32_t> refused;     // streams that refuse moves, logged once
};

struct PipeWireTapGraph::Proc {
    IOProcBlock block;
    bool running = false;
};

struct PipeWireTapGraph::Aggregate {
    AggregateDescription description;
    AudioObjectID tap = 0;
    std::vector<std::string> subDeviceUIDs;
    std::vector<uint32_t> subDeviceNodes;
    std::vector<uint32_t> channels; // per sub-device
    double rate = 48000.0;
    std::unique_ptr<PipeWireTapFilter> filter;
    uint32_t filterNode = 0;
    std::vector<pw_proxy*> links;
    std::set<uint32_t> linkIDs;
    std::map<IOProcID, std::unique_ptr<Proc>> procs;
    bool alive = true;
    bool isRunning() const {
        return std::any_of(procs.begin(), procs.end(), [](const auto& p) { return p.second->running; });
    }
};

PipeWireTapGraph::PipeWireTapGraph(PipeWireLoop& loop, PipeWireSession& session) : loop_(loop), session_(session) {}

PipeWireTapGraph::~PipeWireTapGraph() {
    for (auto& [id, a] : aggregates_) release(*a);
    for (auto& [id, t] : taps_) {
        if (t->routing) unrouteAll(*t);
        if (t->sink) pw_proxy_destroy(t->sink);
    }
}

// ---- Process taps ----

OSStatus PipeWireTapGraph::createProcessTap(const TapDescription& description, const SeamState& seam,
                                            AudioObjectID& outTap) {
    if (description.muteBehavior != 1 && description.muteBehavior != 2) return status::illegalOperation;
    if (!session_.isConnected()) return status::unspecified;
    PipeWireMirror& mirror = session_.mirror();
    auto tap = std::make_unique<Tap>();
    tap->description = description;
    std::string key;
    for (AudioObjectID process : description.processes) {
        auto pid = mirror.pidOfProcess(process);
        if (!pid) return status::badObject;
        tap->pids.insert(*pid);
        if (key.empty()) {
            if (const auto* p = seam.find(process, sel::processBundleID, scope::global))
                if (const auto* text = std::get_if<std::string>(&p->value)) key = *text;
        }
        if (key.empty()) {
            for (const auto& [id, client] : mirror.clients)
                if (PipeWireMapping::processID(client.props) == *pid)
                    key = PipeWireMapping::get(client.props, "application.process.binary").value_or("");
        }
        if (key.empty()) key = "pid" + std::to_string(*pid);
    }
    // One name per application, so the session manager's state does not grow with every tap;
    // a second live tap of the same key gets a numbered name.
    tap->sinkName = PipeWireMapping::tapSinkName(key);
    for (int n = 2;
         mirror.nodeByName(tap->sinkName) ||
         std::any_of(taps_.begin(), taps_.end(), [&](const auto& t) { return t.second->sinkName == tap->sinkName; });
         ++n)
        tap->sinkName = PipeWireMapping::tapSinkName(key + "-" + std::to_string(n));

    const PropertyMap props{{"factory.name", "support.null-audio-sink"},
                            {"media.class", "Audio/Sink/Internal"},
                            {"node.name", tap->sinkName},
                            {"node.description", description.name},
                            {"audio.position", "FL,FR"},
                            {"node.virtual", "true"},
                            {"node.driver", "false"},
                            {"monitor.channel-volumes", "false"},
                            {"priority.session", "-1000"},
                            {"object.linger", "false"}};
    tap->sink = session_.createObject("adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, props);
    if (!tap->sink) return status::unspecified;
    Tap* raw = tap.get();
    const bool ready = loop_.waitFor(
        [&] {
            if (!session_.isConnected() || session_.proxyError(raw->sink) != 0) return true;
            raw->sinkNode = session_.boundID(raw->sink);
            return raw->sinkNode != 0 && mirror.portsOf(raw->sinkNode, true, true).size() >= 2;
        },
        kWaitSeconds);
    if (!ready || !session_.isConnected() || session_.proxyError(raw->sink) != 0) {
        log().error(strprintf("Could not create the tap sink %s", raw->sinkName.c_str()));
        if (session_.isConnected()) pw_proxy_destroy(raw->sink);
        return status::unspecified;
    }
    ownSinkNames_.insert(raw->sinkName);
    const AudioObjectID id = mirror.newObjectID();
    if (description.muteBehavior == 1) {
        raw->routing = true;
        routeAll(*raw);
    }
    taps_[id] = std::move(tap);
    outTap = id;
    return status::noErr;
}

OSStatus PipeWireTapGraph::destroyProcessTap(AudioObjectID tapID) {
    auto it = taps_.find(tapID);
    if (it == taps_.end()) return status::badObject;
    Tap& tap = *it->second;
    if (tap.routing) unrouteAll(tap);
    const uint32_t sinkNode = tap.sinkNode;
    if (tap.sink && session_.isConnected()) pw_proxy_destroy(tap.sink);
    killAggregatesOf(tapID);
    taps_.erase(it);
    // Gone from the graph before a tap that replaces it takes its name.
    loop_.waitFor([&] { return !session_.isConnected() || !session_.mirror().nodes.count(sinkNode); }, kWaitSeconds);
    return status::noErr;
}

void PipeWireTapGraph::route(Tap& tap, const PipeWireNode& node) {
    if (!tap.routing || !tap.alive || tap.routed.count(node.id)) return;
    if (PipeWireMapping::nodeKind(node.props) != Kind::streamOutput) return;
    auto pid = session_.mirror().pidOfNode(node);
    if (!pid || !tap.pids.count(*pid)) return;
    if (PipeWireMapping::getBool(node.props, "node.dont-reconnect")) {
        if (tap.refused.insert(node.id).second)
            log().notice(strprintf("Stream %u of process %d refuses to be moved; it cannot be tapped", node.id, *pid));
        return;
    }
    tap.routed[node.id] = 0;
    session_.setMetadata(node.id, "target.object", "Spa:String", tap.sinkName.c_str());
}

void PipeWireTapGraph::routeAll(Tap& tap) {
    for (const auto& [id, node] : session_.mirror().nodes) route(tap, node);
}

void PipeWireTapGraph::unrouteAll(Tap& tap) {
    tap.routing = false;
    std::vector<uint32_t> streams;
    for (const auto& [node, count] : tap.routed) streams.push_back(node);
    tap.routed.clear();
    if (!session_.isConnected()) return;
    for (uint32_t node : streams) session_.setMetadata(node, "target.object", nullptr, nullptr);
    // Let the session manager link the streams elsewhere before the tap's path goes, so the
    // gap is as short as it can be; a stream that vanished needs nothing.
    const PipeWireMirror& mirror = session_.mirror();
    loop_.waitFor(
        [&] {
            if (!session_.isConnected()) return true;
            for (uint32_t node : streams) {
                if (!mirror.nodes.count(node)) continue;
                const bool elsewhere = std::any_of(mirror.links.begin(), mirror.links.end(), [&](const auto& l) {
                    return l.second.outputNode == node && l.second.inputNode != tap.sinkNode;
                });
                if (!elsewhere) return false;
            }
            return true;
        },
        kRelinkSeconds);
}

// ---- Aggregates ----

OSStatus PipeWireTapGraph::createAggregateDevice(const AggregateDescription& description, const SeamState& seam,
                                                 AudioObjectID& outDevice) {
    if (!session_.isConnected()) return status::unspecified;
    PipeWireMirror& mirror = session_.mirror();
    Tap* tap = nullptr;
    AudioObjectID tapID = 0;
    for (auto& [id, t] : taps_) {
        if (!description.taps.empty() && t->description.uuid == description.taps.front().uid) {
            tap = t.get();
            tapID = id;
        }
    }
    if (!tap || !tap->alive) return status::badObject;

    auto agg = std::make_unique<Aggregate>();
    agg->description = description;
    agg->tap = tapID;
    std::vector<PipeWireTapFilter::Output> outputs;
    for (const auto& sub : description.subdevices) {
        agg->subDeviceUIDs.push_back(sub.uid);
        std::vector<AudioObjectID> devices;
        SeamState::Property const* list = seam.find(kAudioObjectSystemObject, sel::deviceList, scope::global);
        if (list) {
            const auto& bytes = std::get<std::vector<uint8_t>>(list->value);
            devices.resize(bytes.size() / sizeof(AudioObjectID));
            if (!devices.empty()) std::memcpy(devices.data(), bytes.data(), devices.size() * sizeof(AudioObjectID));
        }
        const PipeWireNode* node = nullptr;
        for (AudioObjectID d : devices) {
            const auto* uid = seam.find(d, sel::deviceUID, scope::global);
            if (uid && std::get_if<std::string>(&uid->value) && std::get<std::string>(uid->value) == sub.uid)
                node = mirror.nodeOfDevice(d);
        }
        if (!node) continue; // as a missing sub-device is left out of an aggregate
        PipeWireTapFilter::Output out;
        for (const PipeWirePort* port : mirror.portsOf(node->id, /*output=*/false, /*monitor=*/false))
            out.channels.push_back(port->channel.empty() ? "AUX" + std::to_string(port->index) : port->channel);
        if (out.channels.empty()) continue;
        if (agg->subDeviceNodes.empty()) agg->rate = node->rate > 0 ? node->rate : mirror.graphRate;
        agg->subDeviceNodes.push_back(node->id);
        agg->channels.push_back(static_cast<uint32_t>(out.channels.size()));
        outputs.push_back(std::move(out));
    }

    std::string filterName = tap->sinkName.substr(0, tap->sinkName.size() - 3); // without ".in"
    agg->filter = std::make_unique<PipeWireTapFilter>(session_.core(), filterName, description.name, outputs);
    size_t outPorts = 0;
    for (uint32_t c : agg->channels) outPorts += c;
    Aggregate* a = agg.get();
    auto filterPorts = [&](bool output) { return mirror.portsOf(a->filterNode, output, false); };
    bool ready =
        a->filter->connect() && loop_.waitFor(
                                    [&] {
                                        if (!session_.isConnected() || a->filter->hasFailed()) return true;
                                        if (!a->filter->isReady()) return false;
                                        a->filterNode = a->filter->nodeID();
                                        return filterPorts(false).size() >= 2 && filterPorts(true).size() >= outPorts;
                                    },
                                    kWaitSeconds);
    ready = ready && session_.isConnected() && !a->filter->hasFailed();

    // Links: the sink's monitor into the filter, the filter into each device, channel by channel.
    std::vector<std::pair<const PipeWirePort*, const PipeWirePort*>> pairs;
    if (ready) {
        auto monitor = mirror.portsOf(tap->sinkNode, true, true);
        auto in = filterPorts(false);
        for (size_t i = 0; i < 2 && i < monitor.size() && i < in.size(); ++i) pairs.emplace_back(monitor[i], in[i]);
        auto out = filterPorts(true);
        size_t next = 0;
        for (uint32_t node : a->subDeviceNodes) {
            for (const PipeWirePort* playback : mirror.portsOf(node, false, false))
                if (next < out.size()) pairs.emplace_back(out[next++], playback);
        }
        for (const auto& [from, to] : pairs) {
            pw_proxy* link = session_.createObject("link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK,
                                                   {{"link.output.node", std::to_string(from->node)},
                                                    {"link.output.port", std::to_string(from->id)},
                                                    {"link.input.node", std::to_string(to->node)},
                                                    {"link.input.port", std::to_string(to->id)},
                                                    {"object.linger", "false"}});
            if (link) a->links.push_back(link);
        }
        ready = a->links.size() == pairs.size() &&
                loop_.waitFor(
                    [&] {
                        if (!session_.isConnected()) return true;
                        for (pw_proxy* link : a->links)
                            if (session_.proxyError(link) != 0 || session_.boundID(link) == 0) return false;
                        return true;
                    },
                    kWaitSeconds) &&
                session_.isConnected();
    }
    if (!ready) {
        log().error(strprintf("Could not build %s on PipeWire", description.name.c_str()));
        release(*a);
        return status::unspecified;
    }
    for (pw_proxy* link : a->links) a->linkIDs.insert(session_.boundID(link));
    const AudioObjectID id = mirror.newObjectID();
    aggregates_[id] = std::move(agg);
    outDevice = id;
    return status::noErr;
}

void PipeWireTapGraph::release(Aggregate& a) {
    for (auto& [id, proc] : a.procs) proc->running = false;
    const bool connected = session_.isConnected();
    for (pw_proxy* link : a.links)
        if (connected) pw_proxy_destroy(link);
    a.links.clear();
    a.filter.reset(); // waits for a cycle in progress, then leaves the graph
    a.alive = false;
}

OSStatus PipeWireTapGraph::destroyAggregateDevice(AudioObjectID device) {
    auto it = aggregates_.find(device);
    if (it == aggregates_.end()) return status::badObject;
    if (it->second->isRunning()) return status::illegalOperation;
    release(*it->second);
    aggregates_.erase(it);
    return status::noErr;
}

OSStatus PipeWireTapGraph::createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID) {
    auto it = aggregates_.find(device);
    if (it == aggregates_.end() || !block) return status::badObject;
    const IOProcID id = nextProcID_++;
    it->second->procs[id] = std::make_unique<Proc>(Proc{std::move(block), false});
    outID = id;
    return status::noErr;
}

PipeWireTapGraph::Proc* PipeWireTapGraph::findProc(AudioObjectID device, IOProcID id, Aggregate*& a, OSStatus& result) {
    auto it = aggregates_.find(device);
    a = it == aggregates_.end() ? nullptr : it->second.get();
    if (!a) {
        result = status::badObject;
        return nullptr;
    }
    auto proc = a->procs.find(id);
    result = proc == a->procs.end() ? status::illegalOperation : status::noErr;
    return proc == a->procs.end() ? nullptr : proc->second.get();
}

OSStatus PipeWireTapGraph::destroyIOProc(AudioObjectID device, IOProcID id) {
    Aggregate* a = nullptr;
    OSStatus result = status::noErr;
    Proc* proc = findProc(device, id, a, result);
    if (!proc) return result;
    if (proc->running) return status::illegalOperation;
    a->procs.erase(id);
    return status::noErr;
}

OSStatus PipeWireTapGraph::startDevice(AudioObjectID device, IOProcID id) {
    Aggregate* found = nullptr;
    OSStatus result = status::noErr;
    Proc* proc = findProc(device, id, found, result);
    if (!proc) return result;
    Aggregate& a = *found;
    if (!a.alive || !a.filter) return status::unspecified;
    // One procedure plays at a time: the last one started.
    for (auto& [other, p] : a.procs) p->running = false;
    proc->running = true;
    a.filter->setBlock(&proc->block);
    a.filter->setActive(true);
    auto tap = taps_.find(a.tap);
    if (tap != taps_.end() && !tap->second->routing) {
        Tap& t = *tap->second;
        t.routing = true;
        routeAll(t);
        // The session manager may not know the new sink yet when it reads the target, and then
        // links the stream to the default instead: wait for the streams to arrive, and point
        // any that went elsewhere at the sink once more.
        const PipeWireMirror& mirror = session_.mirror();
        auto arrived = [&](uint32_t node) {
            return !mirror.nodes.count(node) ||
                   std::any_of(mirror.links.begin(), mirror.links.end(), [&](const auto& l) {
                       return l.second.outputNode == node && l.second.inputNode == t.sinkNode;
                   });
        };
        auto allArrived = [&] {
            if (!session_.isConnected()) return true;
            for (const auto& [node, count] : t.routed)
                if (!arrived(node)) return false;
            return true;
        };
        for (int attempt = 0; attempt < 2 && !loop_.waitFor(allArrived, kRelinkSeconds); ++attempt) {
            for (const auto& [node, count] : t.routed) {
                if (arrived(node)) continue;
                session_.setMetadata(node, "target.object", nullptr, nullptr);
                session_.setMetadata(node, "target.object", "Spa:String", t.sinkName.c_str());
            }
        }
    }
    return status::noErr;
}

OSStatus PipeWireTapGraph::stopDevice(AudioObjectID device, IOProcID id) {
    Aggregate* found = nullptr;
    OSStatus result = status::noErr;
    Proc* proc = findProc(device, id, found, result);
    if (!proc) return result;
    Aggregate& a = *found;
    if (!proc->running) return status::noErr;
    proc->running = false;
    auto tap = taps_.find(a.tap);
    if (tap != taps_.end() && tap->second->routing && tap->second->description.muteBehavior == 2)
        unrouteAll(*tap->second);
    if (a.filter) {
        a.filter->setBlock(nullptr); // returns once no cycle runs the procedure
        a.filter->setActive(false);
    }
    return status::noErr;
}

// ---- What the seam shows ----

std::vector<AudioObjectID> PipeWireTapGraph::aggregateIDs() const {
    std::vector<AudioObjectID> out;
    for (const auto& [id, a] : aggregates_) out.push_back(id);
    return out;
}

void PipeWireTapGraph::addTo(SeamState& seam) const {
    for (const auto& [id, tap] : taps_) {
        seam.setString(id, sel::deviceUID, scope::global, tap->description.uuid);
        seam.setString(id, sel::name, scope::global, tap->description.name);
    }
    for (const auto& [id, a] : aggregates_) {
        seam.setString(id, sel::deviceUID, scope::global, a->description.uid);
        seam.setString(id, sel::name, scope::global, a->description.name);
        seam.set<uint32_t>(id, sel::transportType, scope::global, transport::aggregate);
        std::vector<std::string> members = a->subDeviceUIDs;
        for (const auto& t : a->description.taps) members.push_back(t.uid);
        seam.setStringList(id, sel::aggregateFullSubDeviceList, scope::global, members);
        seam.set<uint32_t>(id, sel::deviceIsAlive, scope::global, a->alive ? 1 : 0);
        seam.set<uint32_t>(id, sel::deviceIsRunningSomewhere, scope::global, a->isRunning() ? 1 : 0);
        seam.set<double>(id, sel::nominalSampleRate, scope::global, a->rate);
        seam.setBytes(id, sel::streamConfiguration, scope::output, streamConfigurationBytes(a->channels));
        seam.setBytes(id, sel::streamConfiguration, scope::input, singleStreamConfigurationBytes(2));
        seam.set(id, sel::streamFormat, scope::output,
                 floatStreamFormat(a->rate, a->channels.empty() ? 2 : a->channels.front()));
    }
}

// ---- Session events ----

void PipeWireTapGraph::nodeUpdated(const PipeWireNode& node) {
    // New streams of a tapped process are routed as soon as they appear, before the session
    // manager links them anywhere else.
    for (auto& [id, tap] : taps_) route(*tap, node);
}

void PipeWireTapGraph::killAggregatesOf(AudioObjectID tap) {
    for (auto& [id, a] : aggregates_)
        if (a->tap == tap) a->alive = false;
}

void PipeWireTapGraph::globalRemoved(uint32_t gid) {
    for (auto& [id, tap] : taps_) {
        tap->routed.erase(gid);
        tap->refused.erase(gid);
        if (tap->sinkNode == gid && tap->alive) {
            tap->alive = false;
            killAggregatesOf(id);
        }
    }
    for (auto& [id, a] : aggregates_) {
        const bool ours = a->linkIDs.count(gid) || a->filterNode == gid ||
                          std::find(a->subDeviceNodes.begin(), a->subDeviceNodes.end(), gid) != a->subDeviceNodes.end();
        if (ours && a->alive) {
            // A device went (or our path broke): the aggregate is dead and says so at once, so
            // its owner rebuilds rather than leave the application silent in the tap sink.
            a->alive = false;
            log().notice(strprintf("%s lost part of its path; no longer alive", a->description.name.c_str()));
        }
    }
}

void PipeWireTapGraph::metadataChanged(uint32_t subject, const std::string& key, const char* value) {
    if (!isTargetKey(key)) return;
    const std::string target = value ? value : "";
    for (auto& [id, tap] : taps_) {
        auto it = tap->routed.find(subject);
        // The session manager notes its own decisions under "target.node"; only a new
        // "target.object" is someone moving the stream.
        if (it == tap->routed.end() || key != "target.object" || target == tap->sinkName) continue;
        // Someone else moved a tapped stream (a PulseAudio mixer, say): the tap owns its routing.
        if (++it->second > kMaxReroutes) {
            log().notice(
                strprintf("Stream %u keeps being moved away from %s; leaving it", subject, tap->sinkName.c_str()));
            tap->routed.erase(it);
            continue;
        }
        session_.setMetadata(subject, "target.object", "Spa:String", tap->sinkName.c_str());
        return;
    }
    // Our own names are never stale: the echo of a target we set may arrive after its tap went,
    // and clearing it then could undo the routing of the tap that replaced it.
    if (!PipeWireMapping::isTapSinkName(target) || ownSinkNames_.count(target)) return;
    // Left by an agent that ended without cleaning up: the stream would otherwise keep being
    // sent to a sink that no longer exists.
    log().info(strprintf("Cleared stale routing target %s of node %u", target.c_str(), subject));
    session_.setMetadata(subject, key, nullptr, nullptr);
}

void PipeWireTapGraph::metadataBound() {
    // A new session manager: its metadata starts empty, so the running taps route again.
    for (auto& [id, tap] : taps_) {
        if (!tap->routing) continue;
        tap->routed.clear();
        routeAll(*tap);
    }
}

void PipeWireTapGraph::disconnected() {
    // Every object of ours goes with the connection; the seam objects stay until destroyed,
    // reading dead.
    for (auto& [id, a] : aggregates_) {
        a->links.clear();
        a->filter.reset();
        a->alive = false;
    }
    for (auto& [id, tap] : taps_) {
        tap->sink = nullptr;
        tap->alive = false;
        tap->routed.clear();
    }
}

std::string PipeWireTapGraph::tapSinkName(AudioObjectID tap) const {
    auto it = taps_.find(tap);
    return it == taps_.end() ? std::string() : it->second->sinkName;
}

uint64_t PipeWireTapGraph::ioCycles(AudioObjectID device) const {
    auto it = aggregates_.find(device);
    return it == aggregates_.end() || !it->second->filter ? 0 : it->second->filter->cycles();
}

} // namespace orevant
