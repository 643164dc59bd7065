#include "engine/control_router.h"

#include "audio/audio_process_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/app_settings.h"
#include "engine/control_target.h"
#include "engine/mixer_engine.h"
#include "midi/midi_manager.h"
#include "midi/midi_mapping_manager.h"
#include "remote/osc_listener.h"

namespace orevant {

namespace {

const AudioApp* runningApp(const AudioProcessMonitor& monitor, const std::string& bundleID) {
    for (const AudioApp& app : monitor.apps()) {
        if (app.bundleID == bundleID) return &app;
    }
    return nullptr;
}

} // namespace

ControlRouter::ControlRouter(MixerEngine& engine, AppSettings& settings, Hooks hooks)
    : engine_(engine), settings_(settings), hooks_(std::move(hooks)) {}

void ControlRouter::handleControl(const std::string& target, float value) {
    const ControlTarget control = ControlTarget::parse(target);
    switch (control.kind) {
    case ControlTarget::Kind::none:
        return;
    case ControlTarget::Kind::record:
        if (!ControlTarget::isPress(value)) return;
        if (engine_.isRecording()) {
            engine_.stopRecording();
        } else {
            engine_.startRecording();
        }
        return;
    case ControlTarget::Kind::cue:
        if (ControlTarget::isPress(value)) engine_.setCue(!settings_.isCued(control.name), control.name);
        return;
    case ControlTarget::Kind::mainBus:
    case ControlTarget::Kind::systemOutput:
    case ControlTarget::Kind::systemInput:
    case ControlTarget::Kind::phonesBus:
        setValue(target, value);
        return;
    case ControlTarget::Kind::device:
        // Device levels are set directly only (setValue); a learned control names no device,
        // so the text is taken as a bundle ID like any other unknown target.
    case ControlTarget::Kind::application:
        break;
    }

    const std::string& bundleID = target;
    if (const AudioApp* app = runningApp(engine_.processMonitor(), bundleID)) {
        if (settings_.isCued(bundleID)) {
            // A cued application's control moves the level heard on PHONES.
            engine_.setCueVolume(value, bundleID);
        } else {
            engine_.setVolume(value, *app);
        }
        return;
    }
    storeVolume(bundleID, value, true);
}

void ControlRouter::setValue(const std::string& target, float value) {
    const ControlTarget control = ControlTarget::parse(target);
    switch (control.kind) {
    case ControlTarget::Kind::none:
        return;
    case ControlTarget::Kind::mainBus:
    case ControlTarget::Kind::systemOutput:
        engine_.systemVolume().setVolume(value);
        return;
    case ControlTarget::Kind::systemInput:
        engine_.inputVolume().setVolume(value);
        return;
    case ControlTarget::Kind::phonesBus:
        if (VolumeControlling* phones = engine_.phonesController()) phones->setVolume(value);
        return;
    case ControlTarget::Kind::device:
        if (DeviceVolumeController* device = engine_.routeVolumeController(control.name)) device->setVolume(value);
        return;
    case ControlTarget::Kind::record:
    case ControlTarget::Kind::cue:
        // No switches here: the text is a bundle ID like any other unknown target.
    case ControlTarget::Kind::application:
        break;
    }

    const std::string& bundleID = target;
    if (const AudioApp* app = runningApp(engine_.processMonitor(), bundleID)) {
        engine_.setVolume(value, *app);
        return;
    }
    storeVolume(bundleID, value, false);
}

void ControlRouter::storeVolume(const std::string& bundleID, float value, bool createSetting) {
    if (!createSetting && !settings_.find(bundleID)) return;
    AppVolume setting = settings_.setting(bundleID);
    setting.volume = clampUnit(value);
    settings_.set(bundleID, std::move(setting));
    hooks_.settingsChanged();
}

void ControlRouter::applyLearnedControl(int number, float value, const std::optional<MIDISource>& source) {
    std::optional<std::string> target = engine_.midiMapping().learnOrLookup(number, source);
    if (target) handleControl(*target, value);
}

void ControlRouter::installMIDICallback(MIDIManager& midi) {
    midi.onControlChangeReceived = guard_.wrap([this](int number, int value, MIDISource source) {
        applyLearnedControl(number, ControlTarget::midiValue(value), source);
    });
}

void ControlRouter::installCompanionCallbacks(OSCListener& listener) {
    // The phone's numbered controls are controllers without a source; values arrive as 0...1.
    listener.onOREVANTValueReceived =
        guard_.wrap([this](int index, float value) { applyLearnedControl(index, value, std::nullopt); });
    listener.onAppVolumeReceived = guard_.wrap([this](const std::string& id, float value) { setValue(id, value); });
    listener.onCueReceived =
        guard_.wrap([this](const std::string& bundleID, bool on) { engine_.setCue(on, bundleID); });
    listener.onCueVolumeReceived =
        guard_.wrap([this](const std::string& bundleID, float value) { engine_.setCueVolume(value, bundleID); });
    listener.onSlotReceived =
        guard_.wrap([this](int slot, const std::string& target) { engine_.setSlot(slot, target); });
    listener.onPanicReceived = guard_.wrap([this](bool on) { engine_.setPanicked(on); });
    listener.onRecordReceived = guard_.wrap([this](bool on) {
        if (on) {
            engine_.startRecording();
        } else {
            engine_.stopRecording();
        }
    });
    // Automatic recording is switched from the mixer window only.
    listener.onAutoRecReceived = [](bool) {};
    listener.onSnapshotSaveReceived = guard_.wrap([this] { engine_.saveScene(engine_.nextSceneName()); });
    listener.onSnapshotReceived = guard_.wrap([this](int index) {
        const std::vector<MixSnapshot>& scenes = engine_.snapshots();
        if (index < 0 || static_cast<size_t>(index) >= scenes.size()) return;
        engine_.applyScene(scenes[static_cast<size_t>(index)]);
    });
    listener.onIPhoneConnected =
        guard_.wrap([this](const NetworkEndpoint& endpoint) { hooks_.phoneConnected(endpoint); });
}

} // namespace orevant
