#include "platform/linux/alsa_midi_system.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace orevant {
namespace {

// Object references handed out, by kind; the low bits carry the sequencer numbers.
constexpr MIDIObjectRef kClientRefBase = 0x00100000;
constexpr MIDIObjectRef kPortRefBase = 0x00200000;
constexpr MIDIObjectRef kEntityRefBase = 0x00400000;
constexpr MIDIObjectRef kEndpointRefBase = 0x01000000;

MIDIObjectRef endpointRef(int client, int port) {
    return kEndpointRefBase | (MIDIObjectRef(client & 0xFF) << 8) | MIDIObjectRef(port & 0xFF);
}

uint32_t addressKey(int localPort, int client, int port) {
    return (uint32_t(localPort & 0xFF) << 16) | (uint32_t(client & 0xFF) << 8) | uint32_t(port & 0xFF);
}

uint32_t packWord(uint8_t messageType, uint8_t status, uint8_t data1, uint8_t data2) {
    return (uint32_t(messageType) << 28) | (uint32_t(status) << 16) | (uint32_t(data1 & 0x7F) << 8) |
           uint32_t(data2 & 0x7F);
}

} // namespace

AlsaMIDISystem::Packets AlsaMIDISystem::universalPackets(const snd_seq_event& event) {
    Packets packets;
    auto add = [&packets](uint8_t messageType, uint8_t status, int data1, int data2) {
        packets.words[packets.count++] = packWord(messageType, status, uint8_t(data1), uint8_t(data2));
    };
    auto voice = [&add](uint8_t status, uint8_t channel, int data1, int data2) {
        add(2, uint8_t(status | (channel & 0x0F)), data1, data2);
    };
    const auto& note = event.data.note;
    const auto& control = event.data.control;
    switch (event.type) {
    case SND_SEQ_EVENT_NOTEON:
        voice(0x90, note.channel, note.note, note.velocity);
        break;
    case SND_SEQ_EVENT_NOTEOFF:
        voice(0x80, note.channel, note.note, note.velocity);
        break;
    case SND_SEQ_EVENT_KEYPRESS:
        voice(0xA0, note.channel, note.note, note.velocity);
        break;
    case SND_SEQ_EVENT_CONTROLLER:
        if (control.param < 128) voice(0xB0, control.channel, int(control.param), control.value);
        break;
    case SND_SEQ_EVENT_PGMCHANGE:
        voice(0xC0, control.channel, control.value, 0);
        break;
    case SND_SEQ_EVENT_CHANPRESS:
        voice(0xD0, control.channel, control.value, 0);
        break;
    case SND_SEQ_EVENT_PITCHBEND: {
        int value = std::clamp(control.value + 8192, 0, 16383);
        voice(0xE0, control.channel, value & 0x7F, value >> 7);
        break;
    }
    case SND_SEQ_EVENT_CONTROL14:
        if (control.param < 32) { // coarse controller and its fine partner 32 above
            voice(0xB0, control.channel, int(control.param), (control.value >> 7) & 0x7F);
            voice(0xB0, control.channel, int(control.param) + 32, control.value & 0x7F);
        } else if (control.param < 128) {
            voice(0xB0, control.channel, int(control.param), control.value);
        }
        break;
    case SND_SEQ_EVENT_NONREGPARAM:
    case SND_SEQ_EVENT_REGPARAM: {
        bool registered = event.type == SND_SEQ_EVENT_REGPARAM;
        voice(0xB0, control.channel, registered ? 101 : 99, int(control.param >> 7) & 0x7F);
        voice(0xB0, control.channel, registered ? 100 : 98, int(control.param) & 0x7F);
        voice(0xB0, control.channel, 6, (control.value >> 7) & 0x7F);
        voice(0xB0, control.channel, 38, control.value & 0x7F);
        break;
    }
    case SND_SEQ_EVENT_QFRAME:
        add(1, 0xF1, control.value, 0);
        break;
    case SND_SEQ_EVENT_SONGPOS:
        add(1, 0xF2, control.value & 0x7F, (control.value >> 7) & 0x7F);
        break;
    case SND_SEQ_EVENT_SONGSEL:
        add(1, 0xF3, control.value, 0);
        break;
    case SND_SEQ_EVENT_TUNE_REQUEST:
        add(1, 0xF6, 0, 0);
        break;
    case SND_SEQ_EVENT_CLOCK:
        add(1, 0xF8, 0, 0);
        break;
    case SND_SEQ_EVENT_START:
        add(1, 0xFA, 0, 0);
        break;
    case SND_SEQ_EVENT_CONTINUE:
        add(1, 0xFB, 0, 0);
        break;
    case SND_SEQ_EVENT_STOP:
        add(1, 0xFC, 0, 0);
        break;
    case SND_SEQ_EVENT_SENSING:
        add(1, 0xFE, 0, 0);
        break;
    case SND_SEQ_EVENT_RESET:
        add(1, 0xFF, 0, 0);
        break;
    default:
        break;
    }
    return packets;
}

int32_t AlsaMIDISystem::uniqueIDFor(std::string_view clientName, std::string_view portName) {
    // FNV-1a over "client\0port": stable across runs and reconnections.
    uint32_t hash = 2166136261u;
    auto mix = [&hash](std::string_view text) {
        for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    };
    mix(clientName);
    hash = (hash ^ 0u) * 16777619u;
    mix(portName);
    int32_t id = static_cast<int32_t>(hash);
    return id == 0 ? 1 : id;
}

struct AlsaMIDISystem::Impl {
    struct SourceInfo {
        int client;
        int port;
        int32_t uniqueID;
        bool isKernel;
    };
    struct Port {
        int alsaPort;
        std::shared_ptr<ReceiveProc> receive;
        std::map<int32_t, uint64_t> connections; // unique ID -> reference value, kept while the port lives
    };
    // One item of work for the input thread, in arrival order.
    struct Delivery {
        bool isSetupChange = false;
        MIDIPortRef port = 0;
        uint64_t refCon = 0;
        Packets packets;
    };

    // Guards every sequencer call and the state below.
    std::mutex mutex;
    // Held while a notify or receive procedure runs, so that disposing waits for it.
    std::mutex deliveryMutex;
    snd_seq_t* seq = nullptr;
    int clientID = -1;
    int announcePort = -1;
    std::shared_ptr<NotifyProc> notify;
    std::map<MIDIPortRef, Port> ports;
    std::map<uint32_t, uint64_t> refConByAddress; // (local port, source address) -> reference value
    std::vector<SourceInfo> sources;              // as of the last enumeration
    int stopFd = -1;
    std::thread thread;

    // Lists the sources present now. Called with `mutex` held.
    std::vector<SourceInfo> enumerate() {
        std::vector<SourceInfo> found;
        std::set<int32_t> used;
        snd_seq_client_info_t* clientInfo;
        snd_seq_port_info_t* portInfo;
        snd_seq_client_info_alloca(&clientInfo);
        snd_seq_port_info_alloca(&portInfo);
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(seq, clientInfo) >= 0) {
            int client = snd_seq_client_info_get_client(clientInfo);
            if (client == SND_SEQ_CLIENT_SYSTEM || client == clientID) continue;
            bool isKernel = snd_seq_client_info_get_type(clientInfo) == SND_SEQ_KERNEL_CLIENT;
            const char* clientName = snd_seq_client_info_get_name(clientInfo);
            snd_seq_port_info_set_client(portInfo, client);
            snd_seq_port_info_set_port(portInfo, -1);
            while (snd_seq_query_next_port(seq, portInfo) >= 0) {
                unsigned caps = snd_seq_port_info_get_capability(portInfo);
                constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
                if ((caps & readable) != readable || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
                int32_t id = uniqueIDFor(clientName ? clientName : "", snd_seq_port_info_get_name(portInfo));
                // Two identical devices: the later one takes the next free ID.
                while (id == 0 || used.contains(id)) ++id;
                used.insert(id);
                found.push_back(SourceInfo{client, snd_seq_port_info_get_port(portInfo), id, isKernel});
            }
        }
        return found;
    }

    const SourceInfo* findSource(MIDIObjectRef ref) const {
        for (const SourceInfo& source : sources)
            if (endpointRef(source.client, source.port) == ref) return &source;
        return nullptr;
    }

    // After an announcement: forget addresses that are gone and connect sources that came back
    // to the ports they were connected to. Called with `mutex` held.
    void refreshConnections() {
        // A list of its own: `sources` is the main queue's, indexed between two of its calls.
        std::vector<SourceInfo> present = enumerate();
        std::erase_if(refConByAddress, [&present](const auto& entry) {
            int client = int(entry.first >> 8) & 0xFF, port = int(entry.first) & 0xFF;
            return std::none_of(present.begin(), present.end(),
                                [&](const SourceInfo& s) { return s.client == client && s.port == port; });
        });
        for (auto& [ref, local] : ports) {
            for (const SourceInfo& source : present) {
                auto connection = local.connections.find(source.uniqueID);
                if (connection == local.connections.end()) continue;
                uint32_t key = addressKey(local.alsaPort, source.client, source.port);
                if (refConByAddress.contains(key)) continue;
                int rc = snd_seq_connect_from(seq, local.alsaPort, source.client, source.port);
                if (rc >= 0 || rc == -EBUSY) refConByAddress[key] = connection->second;
            }
        }
    }

    MIDIPortRef portRefFor(int alsaPort) const {
        for (const auto& [ref, port] : ports)
            if (port.alsaPort == alsaPort) return ref;
        return 0;
    }

    void run() {
        std::vector<pollfd> fds;
        {
            std::lock_guard lock(mutex);
            int n = snd_seq_poll_descriptors_count(seq, POLLIN);
            fds.resize(size_t(n) + 1);
            snd_seq_poll_descriptors(seq, fds.data(), unsigned(n), POLLIN);
        }
        fds.back() = pollfd{stopFd, POLLIN, 0};
        std::vector<Delivery> deliveries;
        for (;;) {
            for (auto& fd : fds) fd.revents = 0;
            int rc = ::poll(fds.data(), fds.size(), -1);
            if (rc < 0 && errno == EINTR) continue;
            if (rc < 0 || fds.back().revents != 0) return;
            deliveries.clear();
            readPending(deliveries);
            deliver(deliveries);
        }
    }

    void readPending(std::vector<Delivery>& out) {
        std::lock_guard lock(mutex);
        bool setupChanged = false;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            int rc = snd_seq_event_input(seq, &event);
            if (rc == -ENOSPC) continue; // input overran: what was lost is lost, go on reading
            if (rc < 0 || !event) break;
            if (event->dest.port == announcePort && event->source.client == SND_SEQ_CLIENT_SYSTEM) {
                if (event->data.addr.client == clientID) continue; // our own ports coming and going
                switch (event->type) {
                case SND_SEQ_EVENT_PORT_START:
                case SND_SEQ_EVENT_PORT_EXIT:
                case SND_SEQ_EVENT_PORT_CHANGE:
                case SND_SEQ_EVENT_CLIENT_START:
                case SND_SEQ_EVENT_CLIENT_EXIT:
                case SND_SEQ_EVENT_CLIENT_CHANGE:
                    if (!setupChanged) out.push_back(Delivery{true, 0, 0, {}});
                    setupChanged = true;
                    break;
                default:
                    break;
                }
                continue;
            }
            auto refCon = refConByAddress.find(addressKey(event->dest.port, event->source.client, event->source.port));
            if (refCon == refConByAddress.end()) continue; // not from a source we connected
            Packets packets = universalPackets(*event);
            if (packets.count == 0) continue;
            out.push_back(Delivery{false, portRefFor(event->dest.port), refCon->second, packets});
        }
        if (setupChanged) refreshConnections();
    }

    void deliver(const std::vector<Delivery>& deliveries) {
        std::lock_guard delivery(deliveryMutex);
        for (const Delivery& item : deliveries) {
            if (item.isSetupChange) {
                std::shared_ptr<NotifyProc> proc;
                {
                    std::lock_guard lock(mutex);
                    proc = notify;
                }
                if (proc && *proc) (*proc)(kMIDIMsgSetupChanged);
                continue;
            }
            std::shared_ptr<ReceiveProc> proc;
            {
                std::lock_guard lock(mutex);
                auto port = ports.find(item.port);
                if (port != ports.end()) proc = port->second.receive;
            }
            if (proc && *proc) (*proc)(item.packets.list(), item.refCon);
        }
    }
};

AlsaMIDISystem::AlsaMIDISystem() : impl_(std::make_unique<Impl>()) {}

AlsaMIDISystem::~AlsaMIDISystem() {
    if (impl_->seq) clientDispose(kClientRefBase | MIDIClientRef(impl_->clientID));
}

MIDIStatus AlsaMIDISystem::clientCreate(const std::string& name, NotifyProc notify, MIDIClientRef* outClient) {
    *outClient = 0;
    std::lock_guard lock(impl_->mutex);
    if (impl_->seq) return -EBUSY;
    snd_seq_t* seq = nullptr;
    int rc = snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    if (rc < 0) return rc;
    int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0) {
        int error = -errno;
        snd_seq_close(seq);
        return error;
    }
    snd_seq_set_client_name(seq, name.c_str());
    // A private port (no subscription rights for others) for the system's announcements.
    int announcePort = snd_seq_create_simple_port(seq, (name + " announcements").c_str(), SND_SEQ_PORT_CAP_WRITE,
                                                  SND_SEQ_PORT_TYPE_APPLICATION);
    if (announcePort >= 0)
        rc = snd_seq_connect_from(seq, announcePort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (announcePort < 0 || rc < 0) {
        ::close(stopFd);
        snd_seq_close(seq);
        return announcePort < 0 ? announcePort : rc;
    }
    impl_->seq = seq;
    impl_->clientID = snd_seq_client_id(seq);
    impl_->announcePort = announcePort;
    impl_->notify = std::make_shared<NotifyProc>(std::move(notify));
    impl_->stopFd = stopFd;
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
    *outClient = kClientRefBase | MIDIClientRef(impl_->clientID);
    return midi_status::noError;
}

MIDIStatus AlsaMIDISystem::inputPortCreate(MIDIClientRef client, const std::string& name, ReceiveProc receive,
                                           MIDIPortRef* outPort) {
    *outPort = 0;
    std::lock_guard lock(impl_->mutex);
    if (!impl_->seq || client != (kClientRefBase | MIDIClientRef(impl_->clientID))) return midi_status::invalidClient;
    int port =
        snd_seq_create_simple_port(impl_->seq, name.c_str(), SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) return port;
    MIDIPortRef ref = kPortRefBase | MIDIPortRef(port);
    impl_->ports[ref] = Impl::Port{port, std::make_shared<ReceiveProc>(std::move(receive)), {}};
    *outPort = ref;
    return midi_status::noError;
}

size_t AlsaMIDISystem::numberOfSources() {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->seq) return 0;
    impl_->sources = impl_->enumerate();
    return impl_->sources.size();
}

MIDIEndpointRef AlsaMIDISystem::source(size_t index) {
    std::lock_guard lock(impl_->mutex);
    if (index >= impl_->sources.size()) return 0;
    return endpointRef(impl_->sources[index].client, impl_->sources[index].port);
}

MIDIStatus AlsaMIDISystem::uniqueID(MIDIObjectRef object, int32_t* outID) {
    *outID = 0;
    std::lock_guard lock(impl_->mutex);
    const Impl::SourceInfo* source = impl_->findSource(object);
    if (!source) return midi_status::objectNotFound;
    *outID = source->uniqueID;
    return midi_status::noError;
}

MIDIStatus AlsaMIDISystem::endpointEntity(MIDIEndpointRef sourceRef, MIDIEntityRef* outEntity) {
    *outEntity = 0;
    std::lock_guard lock(impl_->mutex);
    const Impl::SourceInfo* source = impl_->findSource(sourceRef);
    if (!source) return midi_status::unknownEndpoint;
    if (!source->isKernel) return midi_status::objectNotFound;
    *outEntity = kEntityRefBase | MIDIEntityRef(source->client);
    return midi_status::noError;
}

MIDIStatus AlsaMIDISystem::portConnectSource(MIDIPortRef portRef, MIDIEndpointRef sourceRef, uint64_t sourceRefCon) {
    std::lock_guard lock(impl_->mutex);
    auto port = impl_->ports.find(portRef);
    if (!impl_->seq || port == impl_->ports.end()) return midi_status::invalidPort;
    const Impl::SourceInfo* source = impl_->findSource(sourceRef);
    if (!source) return midi_status::unknownEndpoint;
    int rc = snd_seq_connect_from(impl_->seq, port->second.alsaPort, source->client, source->port);
    if (rc < 0 && rc != -EBUSY) return rc; // EBUSY: already subscribed
    port->second.connections[source->uniqueID] = sourceRefCon;
    impl_->refConByAddress[addressKey(port->second.alsaPort, source->client, source->port)] = sourceRefCon;
    return midi_status::noError;
}

MIDIStatus AlsaMIDISystem::portDispose(MIDIPortRef portRef) {
    std::lock_guard delivery(impl_->deliveryMutex);
    std::lock_guard lock(impl_->mutex);
    auto port = impl_->ports.find(portRef);
    if (!impl_->seq || port == impl_->ports.end()) return midi_status::invalidPort;
    int alsaPort = port->second.alsaPort;
    snd_seq_delete_simple_port(impl_->seq, alsaPort);
    std::erase_if(impl_->refConByAddress, [alsaPort](const auto& entry) { return int(entry.first >> 16) == alsaPort; });
    impl_->ports.erase(port);
    return midi_status::noError;
}

MIDIStatus AlsaMIDISystem::clientDispose(MIDIClientRef client) {
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->seq || client != (kClientRefBase | MIDIClientRef(impl_->clientID)))
            return midi_status::invalidClient;
    }
    // Stop the input thread first: after this no procedure runs.
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(impl_->stopFd, &one, sizeof one);
    if (impl_->thread.joinable()) impl_->thread.join();
    std::lock_guard lock(impl_->mutex);
    snd_seq_close(impl_->seq);
    ::close(impl_->stopFd);
    impl_->seq = nullptr;
    impl_->clientID = -1;
    impl_->announcePort = -1;
    impl_->stopFd = -1;
    impl_->notify.reset();
    impl_->ports.clear();
    impl_->refConByAddress.clear();
    impl_->sources.clear();
    return midi_status::noError;
}

} // namespace orevant
