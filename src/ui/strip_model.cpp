#include "ui/strip_model.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/device_volume_controller.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/control_target.h"
#include "engine/mixer_engine.h"

namespace orevant {

std::string StripModel::targetName(const MixerEngine& engine, const std::string& target) {
    const ControlTarget parsed = ControlTarget::parse(target);
    switch (parsed.kind) {
    case ControlTarget::Kind::mainBus:
        return "MAIN";
    case ControlTarget::Kind::phonesBus:
        return "PHONES";
    case ControlTarget::Kind::systemOutput:
        return "Output";
    case ControlTarget::Kind::systemInput:
        return "Microphone";
    case ControlTarget::Kind::device:
        return engine.deviceName(parsed.name).value_or("Unavailable");
    case ControlTarget::Kind::application:
        for (const AudioApp& app : engine.processMonitor().apps()) {
            if (app.bundleID == parsed.name) return app.name;
        }
        return parsed.name;
    default:
        return "";
    }
}

StripModel StripModel::make(MixerEngine& engine, const std::string& target) {
    StripModel strip;
    const ControlTarget parsed = ControlTarget::parse(target);
    if (parsed.kind == ControlTarget::Kind::none || parsed.kind == ControlTarget::Kind::record ||
        parsed.kind == ControlTarget::Kind::cue) {
        return strip;
    }
    strip.name = targetName(engine, target);
    strip.isActive = true;
    strip.midiTarget = target;
    MixerEngine* e = &engine;
    strip.setVolume = [e, target](float v) { e->setValue(target, v); };
    switch (parsed.kind) {
    case ControlTarget::Kind::mainBus:
        strip.icon = "hifispeaker.fill";
        strip.volume = engine.systemVolume().volume();
        break;
    case ControlTarget::Kind::phonesBus:
        strip.icon = "headphones";
        strip.volume = engine.phonesBusVolume().volume();
        strip.isActive = engine.isPaired();
        break;
    case ControlTarget::Kind::systemOutput:
        strip.icon = "speaker.wave.2.fill";
        strip.volume = engine.systemVolume().volume();
        break;
    case ControlTarget::Kind::systemInput:
        strip.icon = "mic.fill";
        strip.volume = engine.inputVolume().volume();
        break;
    case ControlTarget::Kind::device:
        strip.icon = "cable.connector";
        if (DeviceVolumeController* control = engine.routeVolumeController(parsed.name)) {
            strip.volume = control->volume();
        } else {
            strip.isActive = false;
        }
        break;
    default: {
        strip.icon = "app.fill";
        const auto& volumes = engine.volumes();
        const auto setting = volumes.find(parsed.name);
        strip.volume = setting == volumes.end() ? 1.0f : setting->second.volume;
        strip.isCued = setting != volumes.end() && setting->second.isCued;
        const auto& levels = engine.meterLevels();
        const auto level = levels.find(parsed.name);
        strip.level = level == levels.end() ? 0.0f : level->second;
        const std::string bundleID = parsed.name;
        strip.toggleCue = [e, bundleID] {
            const auto found = e->volumes().find(bundleID);
            e->setCue(!(found != e->volumes().end() && found->second.isCued), bundleID);
        };
        strip.cueMIDITarget = std::string(ControlTarget::kCuePrefix) + bundleID;
        break;
    }
    }
    return strip;
}

} // namespace orevant
