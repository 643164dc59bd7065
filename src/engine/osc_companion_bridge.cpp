#include "engine/osc_companion_bridge.h"

#include "engine/mixer_app_state.h"
#include "engine/mixer_engine_view.h"
#include "platform/logger.h"
#include "remote/osc_sender.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace orevant {

namespace {
using MetersJson =
    nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t, std::uint64_t, float>;
} // namespace

OSCCompanionBridge::OSCCompanionBridge(const MixerEngineView& engine, MainQueue& mainQueue, uint16_t replyPort,
                                       std::shared_ptr<OSCSender> sender)
    : engine_(engine), mainQueue_(mainQueue), replyPort_(replyPort), sender_(std::move(sender)) {}

OSCCompanionBridge::~OSCCompanionBridge() { appListSendTask_.cancel(); }

void OSCCompanionBridge::sendAppList() {
    if (!engine_.iphoneEndpoint()) return;
    // The send that is already due within 50 ms carries this change too.
    if (appListSendTask_.isValid()) return;
    size_t leftOut = 0;
    const std::string document = MixerAppState::of(engine_).encodeWithin(kMaxAppListBytes, leftOut);
    if (leftOut > 0 && !reportedLeftOut_) {
        reportedLeftOut_ = true;
        Logger("MixerEngine")
            .error(strprintf("The application list is too long for one datagram; %zu entries "
                             "at its end are left out",
                             leftOut));
    }
    if (!document.empty()) send(kAppListAddress, document);
}

void OSCCompanionBridge::scheduleAppListSend() {
    if (!engine_.iphoneEndpoint() || appListSendTask_.isValid()) return;
    appListSendTask_ = mainQueue_.postAfter(kAppListSendDelaySeconds, guard_.wrap([this] {
        appListSendTask_ = {};
        sendAppList();
    }));
}

void OSCCompanionBridge::sendMeters(const std::map<std::string, float>& levels) {
    if (!engine_.iphoneEndpoint()) return;
    send(kMetersAddress, encodeMeters(levels));
}

float OSCCompanionBridge::roundedMeterLevel(float level) {
    if (!std::isfinite(level)) return 0.0f;
    // In single precision, as the levels are kept: 0.0025f * 1000 is exactly 2.5 there and
    // rounds (away from zero) to 3, where the double product 2.4999999 would round down.
    return std::round(level * 1000.0f) / 1000.0f;
}

std::string OSCCompanionBridge::encodeMeters(const std::map<std::string, float>& levels) {
    MetersJson document = MetersJson::object();
    for (const auto& [bundleID, level] : levels) document[bundleID] = roundedMeterLevel(level);
    return document.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

void OSCCompanionBridge::send(const char* address, const std::string& document) {
    const std::optional<NetworkEndpoint>& phone = engine_.iphoneEndpoint();
    if (!phone) return;
    const std::shared_ptr<OSCSender> sender = sender_ ? sender_ : OSCSender::shared();
    sender->send(address, document, replyEndpoint(*phone, replyPort_));
}

} // namespace orevant
