// Control targets: the short texts by which MIDI mappings, the companion and the console slots
// address a level or a switch of the mixer, and the two operations that act on them.
#include "engine/mixer_engine.h"

#include "audio/audio_process_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_controlling.h"
#include "engine/control_target.h"
#include "midi/midi_mapping_manager.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"

namespace orevant {

namespace {

const AudioApp* runningApp(const AudioProcessMonitor& monitor, const std::string& bundleID) {
    for (const AudioApp& app : monitor.apps()) {
        if (app.bundleID == bundleID) return &app;
    }
    return nullptr;
}

} // namespace

void MixerEngine::handleControl(const std::string& target, float value) {
    const ControlTarget control = ControlTarget::parse(target);
    switch (control.kind) {
    case ControlTarget::Kind::none:
        return;
    case ControlTarget::Kind::record:
        if (!ControlTarget::isPress(value)) return;
        if (isRecording_) {
            stopRecording();
        } else {
            startRecording();
        }
        return;
    case ControlTarget::Kind::cue: {
        if (!ControlTarget::isPress(value)) return;
        auto it = volumes_.find(control.name);
        const bool isCued = it != volumes_.end() && it->second.isCued;
        setCue(!isCued, control.name);
        return;
    }
    case ControlTarget::Kind::mainBus:
    case ControlTarget::Kind::systemOutput:
        systemVolume_->setVolume(value);
        return;
    case ControlTarget::Kind::phonesBus:
        if (VolumeControlling* phones = phonesController()) phones->setVolume(value);
        return;
    case ControlTarget::Kind::systemInput:
        inputVolume_->setVolume(value);
        return;
    case ControlTarget::Kind::device:
        // Device levels are set directly only (setValue); a learned control names no device,
        // so the text is taken as a bundle ID like any other unknown target.
    case ControlTarget::Kind::application:
        break;
    }

    const std::string& bundleID = target;
    if (const AudioApp* app = runningApp(*processMonitor_, bundleID)) {
        auto it = volumes_.find(bundleID);
        if (it != volumes_.end() && it->second.isCued) {
            // A cued application's control moves the level heard on PHONES.
            setCueVolume(value, bundleID);
        } else {
            setVolume(value, *app);
        }
        return;
    }
    // Not running: remembered for when it next plays.
    AppVolume& setting = volumes_[bundleID];
    setting.volume = clampUnit(value);
    scheduleSave();
    changed();
}

void MixerEngine::setValue(const std::string& target, float value) {
    const ControlTarget control = ControlTarget::parse(target);
    switch (control.kind) {
    case ControlTarget::Kind::none:
        return;
    case ControlTarget::Kind::mainBus:
    case ControlTarget::Kind::systemOutput:
        systemVolume_->setVolume(value);
        return;
    case ControlTarget::Kind::systemInput:
        inputVolume_->setVolume(value);
        return;
    case ControlTarget::Kind::phonesBus:
        if (VolumeControlling* phones = phonesController()) phones->setVolume(value);
        return;
    case ControlTarget::Kind::device:
        if (DeviceVolumeController* device = routeVolumeController(control.name)) device->setVolume(value);
        return;
    case ControlTarget::Kind::record:
    case ControlTarget::Kind::cue:
        // No switches here: the text is a bundle ID like any other unknown target.
    case ControlTarget::Kind::application:
        break;
    }

    const std::string& bundleID = target;
    if (const AudioApp* app = runningApp(*processMonitor_, bundleID)) {
        setVolume(value, *app);
        return;
    }
    auto it = volumes_.find(bundleID);
    if (it == volumes_.end()) return;
    it->second.volume = clampUnit(value);
    scheduleSave();
    changed();
}

void MixerEngine::applyLearnedControl(int number, float value, const std::optional<MIDISource>& source) {
    std::optional<std::string> target = midiMapping_->learnOrLookup(number, source);
    if (target) handleControl(*target, value);
}

void MixerEngine::resetCompanionPairing() {
    pairingPIN_->regenerate();
    oscListener_->setPIN(pairingPIN_->pin());
    // The previous phone hears nothing more until it pairs with the new PIN.
    setIphoneEndpoint(std::nullopt);
}

} // namespace orevant
