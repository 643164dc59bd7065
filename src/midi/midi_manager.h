#pragma once
// MIDI input: one client and input port listening to every MIDI source; reports each control
// change, with its source, on the main queue.
//
// Threads: construction, destruction and every method run on the main queue, and the handler
// is called there. The MIDI system's thread only decodes events and posts main-queue tasks.
// The MIDI system and the main queue must outlive the manager.
#include "midi/midi_source.h"
#include "platform/midi_system.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace orevant {

class MainQueue;

// A MIDI 1.0 control change: controller number and value, both 0...127.
struct MIDIControlChange {
    int number = 0;
    int value = 0;
    bool operator==(const MIDIControlChange&) const = default;
};

class MIDIManager {
public:
    using ControlChangeHandler = std::function<void(int number, int value, MIDISource source)>;

    // Creates the client and the input port and connects every source present.
    MIDIManager(MIDISystem& system, MainQueue& mainQueue);
    ~MIDIManager();
    MIDIManager(const MIDIManager&) = delete;
    MIDIManager& operator=(const MIDIManager&) = delete;

    MIDIClientRef client() const { return client_; } // 0 while none exists
    MIDIPortRef port() const { return port_; }       // 0 while none exists
    const std::set<int32_t>& connectedSourceIDs() const { return connectedSourceIDs_; }
    const std::optional<MIDIControlChange>& lastReceivedCC() const { return lastReceivedCC_; }

    // Called on the main queue with each control change, in arrival order.
    ControlChangeHandler onControlChangeReceived;

    // Connects every source not connected yet. Runs at setup and after every setup change.
    void connectSources();

    // The control change carried by one universal MIDI packet: only a MIDI 1.0 channel voice
    // control change (any channel, any group) gives one. Any thread; allocates nothing.
    static std::optional<MIDIControlChange> controlChange(MIDIEventList packet);

private:
    void setup();
    void handleControlChange(int number, int value, MIDISource source);

    MIDISystem& system_;
    MainQueue& mainQueue_;
    MIDIClientRef client_ = 0;
    MIDIPortRef port_ = 0;
    std::set<int32_t> connectedSourceIDs_;
    std::optional<MIDIControlChange> lastReceivedCC_;
    // Liveness token: callbacks and posted tasks hold it weakly.
    std::shared_ptr<MIDIManager*> self_;
};

} // namespace orevant
