#pragma once
// Process taps and aggregates on PipeWire. A process tap is a private tap sink (a null sink of
// class Audio/Sink/Internal named "orevant.tap.<key>.in"); while an aggregate that lists it
// runs, every output stream of the tapped processes, present and future, is pointed at that
// sink through the session manager's "target.object" metadata, by name. An aggregate is a
// PipeWireTapFilter linked from the sink's monitor to the output devices' playback ports; its
// IO procedure is the filter's process callback.
//
// At start (and whenever the session manager's metadata is new) routing targets that name tap
// sinks no tap of ours owns are cleared: an agent that was killed leaves them behind.
//
// Threads: everything with the PipeWire loop's lock held; the session events arrive on the loop
// thread. IO procedures run on the data-loop thread (PipeWireTapFilter).
#include "platform/audio_server.h"
#include "platform/pipewire/seam_state.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct pw_proxy;

namespace orevant {

class PipeWireLoop;
class PipeWireSession;
class PipeWireTapFilter;
struct PipeWireNode;

class PipeWireTapGraph {
public:
    static constexpr double kWaitSeconds = 2.0;   // bound of every wait for the daemon
    static constexpr double kRelinkSeconds = 0.5; // for the session manager to move a stream back

    PipeWireTapGraph(PipeWireLoop& loop, PipeWireSession& session);
    ~PipeWireTapGraph();
    PipeWireTapGraph(const PipeWireTapGraph&) = delete;
    PipeWireTapGraph& operator=(const PipeWireTapGraph&) = delete;

    // The seam calls; `seam` is the current view (object IDs, UIDs).
    OSStatus createProcessTap(const TapDescription& description, const SeamState& seam, AudioObjectID& outTap);
    OSStatus destroyProcessTap(AudioObjectID tap);
    OSStatus createAggregateDevice(const AggregateDescription& description, const SeamState& seam,
                                   AudioObjectID& outDevice);
    OSStatus destroyAggregateDevice(AudioObjectID device);
    OSStatus createIOProc(AudioObjectID device, IOProcBlock block, IOProcID& outID);
    OSStatus destroyIOProc(AudioObjectID device, IOProcID id);
    OSStatus startDevice(AudioObjectID device, IOProcID id);
    OSStatus stopDevice(AudioObjectID device, IOProcID id);

    // What the seam shows of our objects: the aggregates (for the device list) and every
    // property of the taps and aggregates.
    std::vector<AudioObjectID> aggregateIDs() const;
    void addTo(SeamState& seam) const;
    bool isAggregate(AudioObjectID object) const { return aggregates_.count(object) > 0; }

    // Session events.
    void nodeUpdated(const PipeWireNode& node);
    void globalRemoved(uint32_t id);
    void metadataChanged(uint32_t subject, const std::string& key, const char* value);
    void metadataBound();
    void disconnected();

    // Tests and benchmarks: the tap sink's node name, and IO cycles run by an aggregate.
    std::string tapSinkName(AudioObjectID tap) const;
    uint64_t ioCycles(AudioObjectID device) const;

private:
    struct Tap;
    struct Proc;
    struct Aggregate;

    void route(Tap& tap, const PipeWireNode& node);
    void routeAll(Tap& tap);
    void unrouteAll(Tap& tap);
    void killAggregatesOf(AudioObjectID tap);
    void release(Aggregate& aggregate);
    // The procedure `id` of aggregate `device`, or null with the status to return.
    Proc* findProc(AudioObjectID device, IOProcID id, Aggregate*& aggregate, OSStatus& result);

    PipeWireLoop& loop_;
    PipeWireSession& session_;
    std::map<AudioObjectID, std::unique_ptr<Tap>> taps_;
    std::map<AudioObjectID, std::unique_ptr<Aggregate>> aggregates_;
    IOProcID nextProcID_ = 1;
    std::set<std::string> ownSinkNames_; // every tap sink name this connection's taps used
};

} // namespace orevant
