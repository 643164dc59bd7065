// The start steps that connect the remote controls to the engine: the pairing PIN into the OSC
// listener, the MIDI control-change callback and the companion callbacks. Every callback holds
// the engine weakly and does nothing once it is gone; all of them run on the main queue (the
// MIDI manager and the OSC listener hand their events over to it).
#include "engine/mixer_engine.h"

#include "engine/control_target.h"
#include "midi/midi_manager.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"

namespace orevant {

void MixerEngine::installListenerPIN() { oscListener_->setPIN(pairingPIN_->pin()); }

void MixerEngine::installMIDICallback() {
    midiManager_->onControlChangeReceived = [this, alive = weakAlive()](int number, int value, MIDISource source) {
        if (alive.lock()) applyLearnedControl(number, ControlTarget::midiValue(value), source);
    };
}

void MixerEngine::installCompanionCallbacks() {
    OSCListener& listener = *oscListener_;
    const std::weak_ptr<char> alive = weakAlive();

    // The phone's numbered controls are controllers without a source; values arrive as 0...1.
    listener.onOREVANTValueReceived = [this, alive](int index, float value) {
        if (alive.lock()) applyLearnedControl(index, value, std::nullopt);
    };
    listener.onAppVolumeReceived = [this, alive](const std::string& id, float value) {
        if (alive.lock()) setValue(id, value);
    };
    listener.onCueReceived = [this, alive](const std::string& bundleID, bool on) {
        if (alive.lock()) setCue(on, bundleID);
    };
    listener.onCueVolumeReceived = [this, alive](const std::string& bundleID, float value) {
        if (alive.lock()) setCueVolume(value, bundleID);
    };
    listener.onSlotReceived = [this, alive](int slot, const std::string& target) {
        if (alive.lock()) setSlot(slot, target);
    };
    listener.onPanicReceived = [this, alive](bool on) {
        if (alive.lock()) setPanicked(on);
    };
    listener.onRecordReceived = [this, alive](bool on) {
        if (!alive.lock()) return;
        if (on) {
            startRecording();
        } else {
            stopRecording();
        }
    };
    // Automatic recording is switched from the mixer window only.
    listener.onAutoRecReceived = [](bool) {};
    listener.onSnapshotSaveReceived = [this, alive] {
        if (alive.lock()) saveScene("Scene " + std::to_string(snapshots_.size() + 1));
    };
    listener.onSnapshotReceived = [this, alive](int index) {
        if (!alive.lock() || index < 0 || static_cast<size_t>(index) >= snapshots_.size()) return;
        applyScene(snapshots_[static_cast<size_t>(index)]);
    };
    listener.onIPhoneConnected = [this, alive](const NetworkEndpoint& endpoint) {
        if (!alive.lock()) return;
        setIphoneEndpoint(endpoint);
        sendAppList();
    };
}

} // namespace orevant
