#include "app/live_view.h"

#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/mixer_engine_view.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace orevant {

namespace {

// Width in terminal columns of UTF-8 text (every code point counts one).
size_t columns(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

std::string fit(const std::string& text, size_t width) {
    if (columns(text) <= width) return text + std::string(width - columns(text), ' ');
    std::string out;
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80) {
            if (n + 1 == width) break;
            ++n;
        }
        out += text[i];
    }
    return out + "…";
}

std::string percent(float level) {
    return std::to_string(static_cast<int>(std::lround(std::clamp(level, 0.0f, 1.0f) * 100.0f))) + "%";
}

std::string pad(const std::string& text, size_t width) { return fit(text, width); }

} // namespace

LiveViewModel LiveViewModel::from(const MixerEngineView& engine) {
    LiveViewModel model;
    for (const AudioApp& app : engine.processMonitor().apps()) {
        App row;
        row.name = app.name;
        row.bundleID = app.bundleID;
        row.isPlaying = app.isPlaying;
        row.isTapped = engine.tap(app.bundleID) != nullptr;
        const AppVolume setting = engine.volume(app);
        row.volume = setting.volume;
        row.isMuted = setting.isMuted;
        row.isCued = setting.isCued;
        row.cueVolume = setting.cueVolume;
        for (const std::string& uid : setting.outputDeviceUIDs)
            row.outputs.push_back(engine.deviceName(uid).value_or(uid));
        if (auto it = engine.meterLevels().find(app.bundleID); it != engine.meterLevels().end()) row.meter = it->second;
        model.apps.push_back(std::move(row));
    }
    if (auto device = engine.currentOutputDevice()) {
        model.mainDevice = device->name;
        if (auto pairing = engine.channelPairing(*device)) {
            model.phonesAvailable = true;
            model.phonesChannels =
                std::to_string(pairing->phonesOffset + 1) + "/" + std::to_string(pairing->phonesOffset + 2);
        }
    }
    model.mainVolume = engine.systemVolume().volume();
    model.mainMuted = engine.systemVolume().isMuted();
    model.phonesVolume = engine.phonesBusVolume().volume();
    model.phonesMuted = engine.phonesBusVolume().isMuted();
    model.isPanicked = engine.isPanicked();
    model.isRecording = engine.isRecording();
    if (engine.recordingURL()) {
        model.recordingFolder = engine.recordingURL()->string();
    } else {
        model.recordingFolder = engine.recordingFolderDisplayPath();
    }
    model.phonePaired = engine.iphoneEndpoint().has_value();
    model.pin = engine.pairingPIN().pin();
    const OSCListener& listener = engine.oscListener();
    model.oscPortBusy = !listener.isListening();
    model.oscPort = model.oscPortBusy ? listener.requestedPort() : listener.port();
    return model;
}

std::string LiveView::bar(float level, int cells) {
    if (!(level > 0.0f)) level = 0.0f;
    const int filled = static_cast<int>(std::lround(std::min(level, 1.0f) * static_cast<float>(cells)));
    std::string out;
    for (int i = 0; i < cells; ++i) out += i < filled ? "█" : "░";
    return out;
}

std::string LiveView::render(const LiveViewModel& model, int width) {
    const size_t w = static_cast<size_t>(std::max(width, 60));
    std::ostringstream out;
    auto line = [&](const std::string& text) { out << fit(text, w) << "\n"; };

    line("OREVANT — headless   OSC port " + std::to_string(model.oscPort) + (model.oscPortBusy ? " busy" : "") +
         "   PIN " + model.pin + "   phone " + (model.phonePaired ? "paired" : "not paired") +
         (model.isPanicked ? "   PANIC" : ""));
    line("");
    line(pad("APPLICATION", 24) + " " + pad("VOLUME", 17) + " " + pad("MUTE", 4) + " " + pad("CUE", 9) + " " +
         pad("METER", 12) + " ROUTE");
    if (model.apps.empty()) line("(no application uses audio)");
    for (const auto& app : model.apps) {
        std::string route = "default";
        if (!app.outputs.empty()) {
            route.clear();
            for (size_t i = 0; i < app.outputs.size(); ++i) route += (i ? " + " : "") + app.outputs[i];
        }
        const std::string name = (app.isPlaying ? "▶ " : "  ") + app.name;
        const std::string cue = app.isCued ? "on " + percent(app.cueVolume) : "-";
        line(pad(name, 24) + " " + bar(app.volume, 10) + " " + pad(percent(app.volume), 6) + " " +
             pad(app.isMuted ? "M" : "-", 4) + " " + pad(cue, 9) + " " + bar(app.meter, 12) + " " + route +
             (app.isTapped ? "" : " (untouched)"));
    }
    line("");
    line(pad("MAIN", 8) + pad(model.mainDevice.empty() ? "(no output device)" : model.mainDevice, 28) + " " +
         bar(model.mainVolume, 10) + " " + percent(model.mainVolume) + (model.mainMuted ? " muted" : ""));
    if (model.phonesAvailable) {
        line(pad("PHONES", 8) + pad("outputs " + model.phonesChannels, 28) + " " + bar(model.phonesVolume, 10) + " " +
             percent(model.phonesVolume) + (model.phonesMuted ? " muted" : ""));
    } else {
        line(pad("PHONES", 8) + "(unavailable on this device)");
    }
    if (!model.devices.empty()) {
        line("");
        line("DEVICE OUTPUT");
        for (const auto& device : model.devices) {
            line((device.isDefault ? "* " : "  ") + pad(device.name, 26) + " " +
                 pad(std::to_string(device.channels) + " ch", 6) + " " + bar(device.peak, 20));
        }
    }
    line("");
    line(std::string("REC ") + (model.isRecording ? "● recording → " : "○ off → ") + model.recordingFolder);
    std::string text = out.str();
    if (!text.empty()) text.pop_back();
    return text;
}

std::string LiveView::terminalFrame(const std::string& view) {
    std::string frame = "\x1b[H";
    size_t start = 0;
    while (start <= view.size()) {
        const size_t end = view.find('\n', start);
        frame += view.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\x1b[K\n";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return frame + "\x1b[J";
}

} // namespace orevant
