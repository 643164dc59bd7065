#include "platform/sim/sim_scenario.h"

#include "platform/regular_file.h"
#include "platform/sim/sim_audio_engine.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <set>

namespace orevant {

using nlohmann::json;

namespace {

[[noreturn]] void fail(const std::string& where, const std::string& why) {
    throw SimScenarioError("scenario: " + where + ": " + why);
}

template <typename T>
T get(const json& object, const char* key, const std::string& where, T fallback) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return fallback;
    try {
        return it->get<T>();
    } catch (const json::exception&) {
        fail(where + "." + key, "has the wrong type");
    }
}

template <typename T>
T require(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) fail(where, std::string("lacks \"") + key + "\"");
    return get<T>(object, key, where, T{});
}

std::string numberText(double v) {
    char text[64];
    if (v == std::floor(v) && std::fabs(v) < 1e15)
        std::snprintf(text, sizeof text, "%" PRId64, static_cast<int64_t>(v));
    else
        std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// Every number of the format has a range: out of it, the key and the value are named.
double bounded(const json& value, const std::string& where, double min, double max, bool whole) {
    if (!value.is_number()) fail(where, "must be a number");
    const double v = value.get<double>();
    const std::string range = "(" + numberText(min) + " to " + numberText(max) + ")";
    if (!(v >= min && v <= max)) fail(where, value.dump() + " is out of range " + range);
    if (whole && v != std::floor(v)) fail(where, value.dump() + " is not a whole number " + range);
    return v;
}

double number(const json& object, const char* key, const std::string& where, double fallback, double min, double max,
              bool whole = false) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return fallback;
    return bounded(*it, where + "." + key, min, max, whole);
}

constexpr double kMaxPID = 2147483647.0;
constexpr double kMaxEventTime = 604800.0; // a week

int32_t pidValue(const json& value, const std::string& where) {
    return static_cast<int32_t>(bounded(value, where, 1, kMaxPID, true));
}

int32_t requirePID(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) fail(where, std::string("lacks \"") + key + "\"");
    return pidValue(object.at(key), where + "." + key);
}

void requireObject(const json& j, const std::string& where) {
    if (!j.is_object()) fail(where, "must be an object");
}

uint32_t code(const json& object, const char* key, const std::string& where, uint32_t fallback) {
    auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number()) return static_cast<uint32_t>(bounded(*it, where + "." + key, 0, 4294967295.0, true));
    if (!it->is_string() || it->get<std::string>().size() != 4)
        fail(where + "." + key, "must be a four-character code such as \"usb \"");
    const std::string text = it->get<std::string>();
    uint32_t value = 0;
    for (char c : text) value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

std::optional<uint32_t> optionalCode(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) return std::nullopt;
    return code(object, key, where, 0);
}

float level(const json& object, const char* key, const std::string& where, float fallback) {
    return static_cast<float>(number(object, key, where, fallback, 0.0, 1.0));
}

SimScenarioDevice parseDevice(const json& j, const std::string& where) {
    requireObject(j, where);
    SimScenarioDevice d;
    SimDeviceSpec& s = d.spec;
    s.uid = require<std::string>(j, "uid", where);
    if (s.uid.empty()) fail(where + ".uid", "must not be empty");
    s.name = get<std::string>(j, "name", where, s.uid);
    s.transport = code(j, "transport", where, transport::builtIn);
    s.outputChannels = static_cast<uint32_t>(number(j, "outputChannels", where, 2, 0, SimScenario::kMaxChannels, true));
    s.inputChannels = static_cast<uint32_t>(number(j, "inputChannels", where, 0, 0, SimScenario::kMaxChannels, true));
    s.sampleRate = number(j, "sampleRate", where, 48000.0, SimScenario::kMinSampleRate, SimScenario::kMaxSampleRate);
    s.outputDataSource = optionalCode(j, "outputDataSource", where);
    s.inputDataSource = optionalCode(j, "inputDataSource", where);
    s.outputVolume = level(j, "outputVolume", where, 1.0f);
    s.inputVolume = level(j, "inputVolume", where, 1.0f);
    s.outputMuted = get<bool>(j, "outputMuted", where, false);
    s.inputMuted = get<bool>(j, "inputMuted", where, false);
    s.volumeSettable = get<bool>(j, "volumeSettable", where, true);
    s.muteSettable = get<bool>(j, "muteSettable", where, true);
    s.hasVolume = get<bool>(j, "hasVolume", where, true);
    if (j.contains("outputFile")) d.outputFile = require<std::string>(j, "outputFile", where);
    return d;
}

SimAudioSource parseSource(const json& j, const std::string& where) {
    SimAudioSource source;
    if (j.is_string()) {
        const std::string kind = j.get<std::string>();
        if (kind == "silence") return source;
        if (kind == "noise") {
            source.kind = SimAudioSource::Kind::noise;
            return source;
        }
        fail(where, "unknown source \"" + kind + "\"");
    }
    if (!j.is_object() || j.size() != 1) fail(where, "must be \"silence\", \"noise\" or an object with one key");
    // Hold the iterator: the items() proxy is a temporary.
    const auto first = j.begin();
    const std::string kind = first.key();
    const auto& body = first.value();
    if (kind == "sine") {
        requireObject(body, where + ".sine");
        source.kind = SimAudioSource::Kind::sine;
        source.frequency = number(body, "frequency", where + ".sine", 440.0, 1.0, 192000.0);
        source.amplitude = level(body, "amplitude", where + ".sine", 0.5f);
    } else if (kind == "noise") {
        requireObject(body, where + ".noise");
        source.kind = SimAudioSource::Kind::noise;
        source.amplitude = level(body, "amplitude", where + ".noise", 0.5f);
    } else if (kind == "wav") {
        if (!body.is_string() || body.get<std::string>().empty()) fail(where + ".wav", "must be a file path");
        source.kind = SimAudioSource::Kind::wav;
        source.path = body.get<std::string>();
    } else {
        fail(where, "unknown source \"" + kind + "\"");
    }
    return source;
}

SimScenarioProcess parseProcess(const json& j, const std::string& where) {
    requireObject(j, where);
    SimScenarioProcess p;
    p.spec.pid = requirePID(j, "pid", where);
    p.spec.playing = get<bool>(j, "playing", where, false);
    p.spec.recording = get<bool>(j, "recording", where, false);
    if (j.contains("source")) p.spec.source = parseSource(j.at("source"), where + ".source");
    const std::string channels = get<std::string>(j, "channels", where, "stereo");
    if (channels == "mono") {
        p.spec.source.channels = 1;
    } else if (channels == "stereo") {
        p.spec.source.channels = 2;
    } else {
        fail(where + ".channels", "must be \"mono\" or \"stereo\"");
    }
    return p;
}

ActivationPolicy parsePolicy(const std::string& text, const std::string& where) {
    if (text == "regular") return ActivationPolicy::regular;
    if (text == "accessory") return ActivationPolicy::accessory;
    if (text == "prohibited") return ActivationPolicy::prohibited;
    fail(where, "must be \"regular\", \"accessory\" or \"prohibited\"");
}

SimScenarioEvent parseEvent(const json& j, const std::string& where) {
    requireObject(j, where);
    using Kind = SimScenarioEvent::Kind;
    SimScenarioEvent e;
    if (!j.contains("at")) fail(where, "lacks \"at\"");
    e.at = number(j, "at", where, 0.0, 0.0, kMaxEventTime);
    static const std::pair<const char*, Kind> kinds[] = {{"plug", Kind::plug},
                                                         {"unplug", Kind::unplug},
                                                         {"spawn", Kind::spawn},
                                                         {"exit", Kind::exit},
                                                         {"play", Kind::play},
                                                         {"stop", Kind::stop},
                                                         {"record", Kind::record},
                                                         {"stopRecording", Kind::stopRecording},
                                                         {"defaultOutput", Kind::defaultOutput},
                                                         {"defaultInput", Kind::defaultInput},
                                                         {"bluetoothConnect", Kind::bluetoothConnect},
                                                         {"bluetoothDisconnect", Kind::bluetoothDisconnect},
                                                         {"volume", Kind::volume},
                                                         {"mute", Kind::mute}};
    const char* found = nullptr;
    for (const auto& [name, kind] : kinds) {
        if (!j.contains(name)) continue;
        if (found) fail(where, std::string("names both \"") + found + "\" and \"" + name + "\"");
        found = name;
        e.kind = kind;
    }
    if (!found) fail(where, "names no event (plug, unplug, spawn, exit, play, stop, ...)");
    const json& body = j.at(found);
    const std::string at = where + "." + found;
    auto text = [&](const json& v) {
        if (!v.is_string() || v.get<std::string>().empty()) fail(at, "must be a non-empty string");
        return v.get<std::string>();
    };
    auto pid = [&](const json& v) { return pidValue(v, at); };
    switch (e.kind) {
    case Kind::plug:
        e.device = parseDevice(body, at);
        break;
    case Kind::spawn:
        e.process = parseProcess(body, at);
        break;
    case Kind::unplug:
    case Kind::defaultOutput:
    case Kind::defaultInput:
        e.uid = text(body);
        break;
    case Kind::bluetoothConnect:
    case Kind::bluetoothDisconnect:
        e.address = text(body);
        break;
    case Kind::exit:
    case Kind::play:
    case Kind::stop:
    case Kind::record:
    case Kind::stopRecording:
        e.pid = pid(body);
        break;
    case Kind::volume:
        requireObject(body, at);
        e.uid = require<std::string>(body, "uid", at);
        e.volume = level(body, "value", at, 0.0f);
        if (!body.contains("value")) fail(at, "lacks \"value\"");
        e.input = get<bool>(body, "input", at, false);
        break;
    case Kind::mute:
        requireObject(body, at);
        e.uid = require<std::string>(body, "uid", at);
        e.muted = get<bool>(body, "muted", at, true);
        e.input = get<bool>(body, "input", at, false);
        break;
    }
    return e;
}

template <typename F>
void each(const json& document, const char* key, size_t most, F&& f) {
    auto it = document.find(key);
    if (it == document.end()) return;
    if (!it->is_array()) fail(key, "must be an array");
    if (it->size() > most)
        fail(key, "has " + std::to_string(it->size()) + " entries; at most " + std::to_string(most) + " are allowed");
    for (size_t i = 0; i < it->size(); ++i) f(it->at(i), std::string(key) + "[" + std::to_string(i) + "]");
}

AudioObjectID plugDevice(SimAudioSystem& system, const SimScenarioDevice& device) {
    // A UID is unique among present devices: plugging it again replaces nothing.
    if (AudioObjectID existing = system.deviceWithUID(device.spec.uid)) return existing;
    const AudioObjectID id = system.addDevice(device.spec);
    if (device.outputFile) system.server().audio().setDeviceOutputFile(id, *device.outputFile);
    return id;
}

std::vector<AudioObjectID> processesOf(SimAudioServer& server, int32_t pid) {
    std::vector<AudioObjectID> out;
    for (AudioObjectID p : server.ids(kAudioObjectSystemObject, sel::processObjectList, scope::global))
        if (server.value<int32_t>(p, sel::processPID, scope::global) == pid) out.push_back(p);
    return out;
}

} // namespace

SimScenario SimScenario::fromJSON(const json& document) {
    if (!document.is_object()) fail("document", "must be a JSON object");
    SimScenario s;
    s.agentBundleID = get<std::string>(document, "agentBundleID", "document", s.agentBundleID);
    each(document, "apps", kMaxProcesses, [&](const json& j, const std::string& where) {
        requireObject(j, where);
        SimApplication app;
        app.application.processIdentifier = requirePID(j, "pid", where);
        if (j.contains("bundleID")) app.application.bundleIdentifier = require<std::string>(j, "bundleID", where);
        if (j.contains("name")) app.application.localizedName = require<std::string>(j, "name", where);
        app.application.activationPolicy =
            parsePolicy(get<std::string>(j, "policy", where, "regular"), where + ".policy");
        app.responsiblePID = static_cast<int32_t>(number(j, "responsiblePID", where, 0, 0, kMaxPID, true));
        s.apps.push_back(std::move(app));
    });
    each(document, "devices", kMaxDevices,
         [&](const json& j, const std::string& where) { s.devices.push_back(parseDevice(j, where)); });
    if (document.contains("defaultOutput"))
        s.defaultOutput = require<std::string>(document, "defaultOutput", "document");
    if (document.contains("defaultInput")) s.defaultInput = require<std::string>(document, "defaultInput", "document");
    each(document, "processes", kMaxProcesses,
         [&](const json& j, const std::string& where) { s.processes.push_back(parseProcess(j, where)); });
    each(document, "bluetooth", kMaxDevices, [&](const json& j, const std::string& where) {
        requireObject(j, where);
        SimScenarioBluetooth b;
        BluetoothPairedDevice& d = b.device.device;
        d.address = require<std::string>(j, "address", where);
        if (j.contains("name")) d.name = require<std::string>(j, "name", where);
        d.majorClass =
            static_cast<uint32_t>(number(j, "majorClass", where, kBluetoothDeviceClassMajorAudio, 0, 31, true));
        d.minorClass = static_cast<uint32_t>(number(j, "minorClass", where, 0, 0, 63, true));
        d.isConnected = get<bool>(j, "connected", where, false);
        b.device.connectStatus =
            static_cast<int32_t>(number(j, "connectStatus", where, kIOReturnSuccess, INT32_MIN, INT32_MAX, true));
        b.device.disconnectStatus =
            static_cast<int32_t>(number(j, "disconnectStatus", where, kIOReturnSuccess, INT32_MIN, INT32_MAX, true));
        b.device.connectDelay = number(j, "connectDelay", where, 0.0, 0.0, kMaxDelay);
        b.device.disconnectDelay = number(j, "disconnectDelay", where, 0.0, 0.0, kMaxDelay);
        if (j.contains("device")) b.audioDevice = parseDevice(j.at("device"), where + ".device");
        s.bluetooth.push_back(std::move(b));
    });
    each(document, "events", kMaxEvents,
         [&](const json& j, const std::string& where) { s.events.push_back(parseEvent(j, where)); });

    // What events bring in counts against the same bounds as what is there from the start.
    std::set<std::string> deviceUIDs;
    for (const auto& d : s.devices) deviceUIDs.insert(d.spec.uid);
    for (const auto& b : s.bluetooth)
        if (b.audioDevice) deviceUIDs.insert(b.audioDevice->spec.uid);
    size_t processCount = s.processes.size();
    for (const auto& e : s.events) {
        if (e.device) deviceUIDs.insert(e.device->spec.uid);
        if (e.process) ++processCount;
    }
    if (deviceUIDs.size() > kMaxDevices)
        fail("document", "names " + std::to_string(deviceUIDs.size()) + " devices; at most " +
                             std::to_string(kMaxDevices) + " are allowed");
    if (processCount > kMaxProcesses)
        fail("document", "makes " + std::to_string(processCount) + " processes; at most " +
                             std::to_string(kMaxProcesses) + " are allowed");
    return s;
}

SimScenario SimScenario::parse(const std::string& text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& error) {
        throw SimScenarioError(std::string("scenario: not valid JSON: ") + error.what());
    }
    return fromJSON(document);
}

SimScenario SimScenario::loadFile(const std::string& path) { return parse(readFile(path)); }

std::string SimScenario::readFile(const std::string& path) {
    RegularFileRead read = readRegularFile(path, kMaxFileBytes);
    if (read.status != RegularFileRead::Status::ok)
        throw SimScenarioError("scenario: cannot read " + path + ": " + read.reason);
    return std::move(read.text);
}

void SimScenario::apply(SimAudioSystem& system, SimWorkspace& workspace, SimBluetooth& bluetooth,
                        MainQueue& mainQueue) const {
    workspace.setMainBundleIdentifier(agentBundleID);
    for (const SimApplication& app : apps) workspace.addApplication(app);
    for (const SimScenarioDevice& device : devices) plugDevice(system, device);

    // Connected headsets bring their audio device along, as the real system does.
    std::map<std::string, SimScenarioDevice> headsets;
    for (const SimScenarioBluetooth& b : this->bluetooth) {
        bluetooth.addPaired(b.device);
        if (!b.audioDevice) continue;
        headsets[b.device.device.address] = *b.audioDevice;
        if (b.device.device.isConnected) plugDevice(system, *b.audioDevice);
    }
    if (!headsets.empty()) {
        SimAudioSystem* sys = &system;
        MainQueue* queue = &mainQueue;
        bluetooth.onConnectionChanged = [sys, queue, headsets](const std::string& address, bool connected) {
            auto it = headsets.find(address);
            if (it == headsets.end()) return;
            const SimScenarioDevice device = it->second;
            queue->post([sys, device, connected] {
                if (connected) {
                    plugDevice(*sys, device);
                } else if (AudioObjectID id = sys->deviceWithUID(device.spec.uid)) {
                    sys->removeDevice(id);
                }
            });
        };
    }

    auto setDefault = [&system](const std::string& uid, bool input) {
        const AudioObjectID id = system.deviceWithUID(uid);
        if (id == 0) return;
        if (input) {
            system.setDefaultInput(id);
        } else {
            system.setDefaultOutput(id);
        }
    };
    if (defaultOutput) setDefault(*defaultOutput, false);
    if (defaultInput) setDefault(*defaultInput, true);
    for (const SimScenarioProcess& p : processes) system.addProcess(p.spec);

    for (const SimScenarioEvent& event : events) {
        mainQueue.postAfter(event.at, [&system, &bluetooth, event, setDefault] {
            using Kind = SimScenarioEvent::Kind;
            SimAudioServer& server = system.server();
            switch (event.kind) {
            case Kind::plug:
                plugDevice(system, *event.device);
                break;
            case Kind::unplug:
                if (AudioObjectID id = system.deviceWithUID(event.uid)) system.removeDevice(id);
                break;
            case Kind::spawn:
                system.addProcess(event.process->spec);
                break;
            case Kind::exit:
                for (AudioObjectID p : processesOf(server, event.pid)) system.removeProcess(p);
                break;
            case Kind::play:
            case Kind::stop:
                for (AudioObjectID p : processesOf(server, event.pid)) system.setPlaying(p, event.kind == Kind::play);
                break;
            case Kind::record:
            case Kind::stopRecording:
                for (AudioObjectID p : processesOf(server, event.pid))
                    system.setRecording(p, event.kind == Kind::record);
                break;
            case Kind::defaultOutput:
                setDefault(event.uid, false);
                break;
            case Kind::defaultInput:
                setDefault(event.uid, true);
                break;
            case Kind::bluetoothConnect:
                bluetooth.setConnected(event.address, true);
                break;
            case Kind::bluetoothDisconnect:
                bluetooth.setConnected(event.address, false);
                break;
            case Kind::volume:
                if (AudioObjectID id = system.deviceWithUID(event.uid))
                    server.setValue<float>(id, sel::virtualMainVolume, event.input ? scope::input : scope::output,
                                           event.volume);
                break;
            case Kind::mute:
                if (AudioObjectID id = system.deviceWithUID(event.uid))
                    server.setValue<uint32_t>(id, sel::mute, event.input ? scope::input : scope::output,
                                              event.muted ? 1u : 0u);
                break;
            }
        });
    }
}

} // namespace orevant
