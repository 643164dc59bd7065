#pragma once
// The companion bridge over OSC: "/app/list" carries the engine's MixerAppState and "/meters" the
// meter levels, each as one JSON string argument, sent to the phone that spoke last (the
// engine's iphoneEndpoint) on the reply port of its host. Nothing is sent while no phone is
// known.
//
// Threads: main queue only. Sending goes through OSCSender, which never waits for the network.
#include "engine/companion_bridge.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"
#include "remote/network_endpoint.h"
#include "remote/osc_ports.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orevant {

class MixerEngineView;
class OSCSender;

class OSCCompanionBridge final : public CompanionBridge {
public:
    static constexpr uint16_t kReplyPort = kCompanionReplyPort;
    static constexpr double kAppListSendDelaySeconds = 0.05;
    static constexpr const char* kAppListAddress = "/app/list";
    static constexpr const char* kMetersAddress = "/meters";
    // "/app/list" always fits one datagram of kMaxDatagramBytes: the document leaves out
    // applications from its end when it would not (said once in the log).
    static constexpr size_t kMaxDatagramBytes = 60000;
    // The address (12 bytes), the tags (4) and the string's terminator and padding (at most 4).
    static constexpr size_t kMaxAppListBytes = kMaxDatagramBytes - 20;

    // `engine` must outlive the bridge (the engine owns it). Without a `sender` every message
    // goes through OSCSender::shared().
    OSCCompanionBridge(const MixerEngineView& engine, MainQueue& mainQueue, uint16_t replyPort = kReplyPort,
                       std::shared_ptr<OSCSender> sender = nullptr);
    ~OSCCompanionBridge() override;
    OSCCompanionBridge(const OSCCompanionBridge&) = delete;
    OSCCompanionBridge& operator=(const OSCCompanionBridge&) = delete;

    void sendAppList() override;
    // The first request opens a 50 ms window; the send at its end carries the state of that
    // moment, so a burst of changes costs one message.
    void scheduleAppListSend() override;
    void sendMeters(const std::map<std::string, float>& levels) override;

    bool isAppListSendPending() const { return appListSendTask_.isValid(); }

    // The phone's host on the reply port.
    static NetworkEndpoint replyEndpoint(const NetworkEndpoint& phone, uint16_t replyPort) {
        return phone.withPort(replyPort);
    }
    // Three decimals, halves rounded away from zero; a level that is not a number reads 0.
    static float roundedMeterLevel(float level);
    // The "/meters" document: one key per bundle ID with its rounded level.
    static std::string encodeMeters(const std::map<std::string, float>& levels);

private:
    void send(const char* address, const std::string& document);

    const MixerEngineView& engine_;
    MainQueue& mainQueue_;
    uint16_t replyPort_;
    std::shared_ptr<OSCSender> sender_;
    TaskHandle appListSendTask_;
    bool reportedLeftOut_ = false;
    LifetimeGuard guard_;
};

} // namespace orevant
