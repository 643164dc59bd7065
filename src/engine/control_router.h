#pragma once
// Control targets in action: what a learned MIDI controller, the phone's numbered and per-item
// controls and the other companion commands do to the mixer. MIDI control changes and the
// phone's numbered controls first go through MIDI learn; then handleControl acts on their
// target. setValue is the phone's direct level setting, which knows no switches.
//
// Threads: main queue only. The MIDI manager and the OSC listener hand their events to the main
// queue before the callbacks installed here run; once the router is gone they do nothing.
#include "midi/midi_source.h"
#include "platform/lifetime_guard.h"

#include <functional>
#include <optional>
#include <string>

namespace orevant {

class AppSettings;
class MIDIManager;
class MixerEngine;
class OSCListener;
struct NetworkEndpoint;

class ControlRouter {
public:
    struct Hooks {
        // A setting was stored directly (an application that is not running).
        std::function<void()> settingsChanged;
        // An admitted companion message came from `endpoint`.
        std::function<void(const NetworkEndpoint& endpoint)> phoneConnected;
    };

    // `engine` owns the router; `settings` are the engine's.
    ControlRouter(MixerEngine& engine, AppSettings& settings, Hooks hooks);

    void handleControl(const std::string& target, float value);
    void setValue(const std::string& target, float value);
    // Learn mode binds the controller to the target being learned; otherwise its target acts.
    void applyLearnedControl(int number, float value, const std::optional<MIDISource>& source);

    void installMIDICallback(MIDIManager& midi);
    void installCompanionCallbacks(OSCListener& listener);

private:
    // The level of an application that is not running, kept for when it next plays.
    void storeVolume(const std::string& bundleID, float value, bool createSetting);

    MixerEngine& engine_;
    AppSettings& settings_;
    Hooks hooks_;
    LifetimeGuard guard_;
};

} // namespace orevant
