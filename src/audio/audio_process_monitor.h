#pragma once
// Turns the audio server's client process objects into the list of applications the mixer
// shows, kept current by a process-list listener (debounced 100 ms), a 2 s poll and explicit
// refreshes. Main queue only.
#include "audio/audio_app.h"
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <memory>
#include <vector>

namespace orevant {

class AudioServer;
class HALListener;
class Workspace;

class AudioProcessMonitor {
public:
    static constexpr double kDebounceSeconds = 0.1;
    static constexpr double kPollSeconds = 2.0;

    AudioProcessMonitor(AudioServer& server, MainQueue& mainQueue, Workspace& workspace);
    ~AudioProcessMonitor();
    AudioProcessMonitor(const AudioProcessMonitor&) = delete;
    AudioProcessMonitor& operator=(const AudioProcessMonitor&) = delete;

    // Installs the listener, starts the poll and refreshes once. A second call does nothing.
    void start();
    // Rebuilds `apps` from the server now.
    void refresh();
    // Schedules a refresh 100 ms from now, replacing one already scheduled.
    void scheduleRefresh();

    // Current list, playing applications first, then by name ignoring case.
    const std::vector<AudioApp>& apps() const { return apps_; }
    // The observer runs after `apps` changed.
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) {
        return observers_.add(std::move(observer));
    }

    // Whether a process object is running output; unreadable counts as false.
    bool isRunningOutput(AudioObjectID object) const;
    // The process owning `pid` through the workspace's responsible-process lookup, or `pid`.
    int32_t owner(int32_t pid) const;

private:
    void schedulePoll();

    AudioServer& server_;
    MainQueue& mainQueue_;
    Workspace& workspace_;
    std::vector<AudioApp> apps_;
    std::unique_ptr<HALListener> listListener_;
    TaskHandle pendingRefresh_;
    TaskHandle pollTask_;
    ObserverList observers_;
    LifetimeGuard guard_;
};

} // namespace orevant
