#include "engine/web_companion_bridge.h"

#include "engine/mixer_app_state.h"
#include "engine/mixer_engine_view.h"
#include "engine/osc_companion_bridge.h"
#include "platform/host_clock.h"
#include "remote/web/web_server.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace orevant {

WebCompanionBridge::WebCompanionBridge(const MixerEngineView& engine, MainQueue& mainQueue, const HostClock& clock,
                                       WebServer& server)
    : engine_(engine), mainQueue_(mainQueue), clock_(clock), server_(server) {
    observer_ = engine_.addObserver(guard_.wrap([this] { scheduleStateSend(); }));
    server_.publishState(stateDocument());
    // A page that just opened sees the recording time of now.
    server_.onSessionsChanged = guard_.wrap([this] { scheduleStateSend(); });
}

WebCompanionBridge::~WebCompanionBridge() {
    guard_.end();
    sendTask_.cancel();
    server_.onSessionsChanged = nullptr;
}

void WebCompanionBridge::scheduleStateSend() {
    if (sendTask_.isValid()) return;
    sendTask_ = mainQueue_.postAfter(kStateSendDelaySeconds, guard_.wrap([this] {
        sendTask_ = {};
        server_.publishState(stateDocument());
    }));
}

void WebCompanionBridge::sendMeters(const std::map<std::string, float>& levels) {
    if (hasSessions()) server_.publishMeters(OSCCompanionBridge::encodeMeters(levels));
}

bool WebCompanionBridge::hasSessions() const { return server_.sessionCount() > 0; }

std::string WebCompanionBridge::stateDocument() {
    using Json = nlohmann::json;
    // The same document the OSC companion reads, so the two can never show different mixers.
    Json document = Json::parse(MixerAppState::of(engine_).encode(), nullptr, false);
    if (!document.is_object()) document = Json::object();
    const bool recording = engine_.isRecording();
    if (recording && !recordingSince_) recordingSince_ = clock_.seconds();
    if (!recording) recordingSince_.reset();
    document["isRecording"] = recording;
    document["recordingSeconds"] = recordingSince_ ? std::floor(clock_.seconds() - *recordingSince_) : 0.0;
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace orevant
