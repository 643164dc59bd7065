#pragma once
// The engine's side of the web companion: the state document (the "/app/list" content, plus
// whether a take is being recorded and for how long) at most once per 50 ms window, and the
// "/meters" content, both handed to the web server for its sessions. Main queue only.
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <map>
#include <optional>
#include <string>

namespace orevant {

class HostClock;
class MixerEngineView;
class WebServer;

class WebCompanionBridge {
public:
    static constexpr double kStateSendDelaySeconds = 0.05;

    // `engine`, `clock` and `server` must outlive the bridge. The current state is published at once.
    WebCompanionBridge(const MixerEngineView& engine, MainQueue& mainQueue, const HostClock& clock, WebServer& server);
    ~WebCompanionBridge();
    WebCompanionBridge(const WebCompanionBridge&) = delete;
    WebCompanionBridge& operator=(const WebCompanionBridge&) = delete;

    // The first request opens a 50 ms window; the send at its end carries the state of then.
    void scheduleStateSend();
    void sendMeters(const std::map<std::string, float>& levels);
    bool hasSessions() const;

    // The state document of now.
    std::string stateDocument();

private:
    const MixerEngineView& engine_;
    MainQueue& mainQueue_;
    const HostClock& clock_;
    WebServer& server_;
    TaskHandle sendTask_;
    std::optional<double> recordingSince_;
    ObserverList::Token observer_;
    LifetimeGuard guard_;
};

} // namespace orevant
