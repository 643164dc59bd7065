#include "midi/midi_manager.h"

#include "platform/logger.h"
#include "platform/main_queue.h"

namespace orevant {
namespace {

const Logger& log() {
    static const Logger logger("MIDIManager");
    return logger;
}

constexpr uint32_t kMessageTypeMIDI1ChannelVoice = 2;
constexpr uint32_t kStatusControlChange = 0xB;

} // namespace

MIDIManager::MIDIManager(MIDISystem& system, MainQueue& mainQueue)
    : system_(system), mainQueue_(mainQueue), self_(std::make_shared<MIDIManager*>(this)) {
    setup();
}

MIDIManager::~MIDIManager() {
    self_.reset();
    if (port_ != 0) system_.portDispose(port_);
    if (client_ != 0) system_.clientDispose(client_);
}

void MIDIManager::setup() {
    std::weak_ptr<MIDIManager*> weak = self_;
    MainQueue* queue = &mainQueue_;

    auto notify = [weak, queue](int32_t messageID) {
        if (messageID != kMIDIMsgSetupChanged) return;
        queue->post([weak] {
            if (auto self = weak.lock()) (*self)->connectSources();
        });
    };
    MIDIClientRef client = 0;
    MIDIStatus status = system_.clientCreate("OREVANTMIDIClient", notify, &client);
    if (status != 0) {
        // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
        log().error(strprintf("MIDI-asiakkaan luonti epäonnistui: %d", status));
        return;
    }
    client_ = client;

    auto receive = [weak, queue](MIDIEventList list, uint64_t sourceRefCon) {
        if (weak.expired()) return;
        MIDISource source = MIDISource::unpack(sourceRefCon);
        forEachMIDIEvent(list, [&](MIDIEventList packet) {
            auto cc = controlChange(packet);
            if (!cc) return;
            queue->post([weak, cc = *cc, source] {
                if (auto self = weak.lock()) (*self)->handleControlChange(cc.number, cc.value, source);
            });
        });
    };
    MIDIPortRef port = 0;
    status = system_.inputPortCreate(client_, "OREVANTMIDIInputPort", receive, &port);
    if (status != 0) {
        // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
        log().error(strprintf("MIDI-syöteportin luonti epäonnistui: %d", status));
        return;
    }
    port_ = port;
    connectSources();
}

void MIDIManager::connectSources() {
    if (port_ == 0) return;
    size_t count = system_.numberOfSources();
    log().info(strprintf("Connecting MIDI sources, count: %ld", static_cast<long>(count)));
    for (size_t i = 0; i < count; ++i) {
        MIDIEndpointRef source = system_.source(i);
        int32_t id = 0;
        if (system_.uniqueID(source, &id) != 0) id = 0;
        if (connectedSourceIDs_.contains(id)) continue;
        MIDIEntityRef entity = 0;
        bool isHardware = system_.endpointEntity(source, &entity) == 0;
        MIDIStatus status = system_.portConnectSource(port_, source, MIDISource{id, isHardware}.packed());
        if (status != 0) {
            // Kept verbatim on purpose, Finnish and all: this exact text is what the logs are searched for.
            log().error(strprintf("Virhe yhdistettäessä MIDI-lähteeseen %ld: %d", static_cast<long>(i), status));
            continue;
        }
        connectedSourceIDs_.insert(id);
    }
}

std::optional<MIDIControlChange> MIDIManager::controlChange(MIDIEventList packet) {
    if (packet.empty()) return std::nullopt;
    uint32_t word = packet[0];
    if ((word >> 28) != kMessageTypeMIDI1ChannelVoice) return std::nullopt;
    if (((word >> 20) & 0xF) != kStatusControlChange) return std::nullopt;
    return MIDIControlChange{int((word >> 8) & 0x7F), int(word & 0x7F)};
}

void MIDIManager::handleControlChange(int number, int value, MIDISource source) {
    log().debug(strprintf("CC %ld = %ld", static_cast<long>(number), static_cast<long>(value)));
    lastReceivedCC_ = MIDIControlChange{number, value};
    // A copy, so that a handler that replaces itself is not destroyed while it runs.
    if (auto handler = onControlChangeReceived) handler(number, value, source);
}

} // namespace orevant
