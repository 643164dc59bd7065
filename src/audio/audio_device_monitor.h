#pragma once
// The devices of one direction, the system default for it and the user's priority order, with
// the automatic switch to a better ranked device. Main queue only.
#include "audio/audio_device.h"
#include "audio/audio_direction.h"
#include "audio/device_priority_store.h"
#include "audio/device_ranking.h"
#include "audio/observer_list.h"
#include "audio/own_devices.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orevant {

class AudioServer;
class DefaultsStore;
class HALListener;

class AudioDeviceMonitor {
public:
    // The system's own multi-output device: while it is the default nothing switches.
    static constexpr std::string_view kMultiOutputUID = kMirrorAggregateUIDs[0];

    AudioDeviceMonitor(AudioDirection direction, AudioServer& server, MainQueue& mainQueue, DefaultsStore& defaults);
    ~AudioDeviceMonitor();
    AudioDeviceMonitor(const AudioDeviceMonitor&) = delete;
    AudioDeviceMonitor& operator=(const AudioDeviceMonitor&) = delete;

    // Loads the ranking, listens to the device list and the default device, refreshes once.
    void start();
    void refresh();
    // Makes `device` the system default for this direction; failures are logged.
    void setDefault(const AudioDevice& device);
    // After the user dragged `movedUID`: merge `visibleOrder` into the ranking, arm the moved
    // device, store both and re-sort.
    void reorder(const std::vector<std::string>& visibleOrder, const std::string& movedUID);

    AudioDirection direction() const { return direction_; }
    const std::vector<AudioDevice>& devices() const { return devices_; }
    AudioObjectID defaultDeviceID() const { return defaultDeviceID_; }
    const DeviceRanking& ranking() const { return ranking_; }
    const DevicePriorityStore& priorityStore() const { return priorityStore_; }
    bool hasBaseline() const { return hasBaseline_; }
    const std::optional<std::string>& lastDefaultUID() const { return lastDefaultUID_; }
    // The listed device with that UID, if any.
    const AudioDevice* device(const std::string& uid) const;
    // The listed device that is the system default, if any.
    const AudioDevice* defaultDevice() const;

    // The observer runs after `devices` or `defaultDeviceID` changed.
    [[nodiscard]] ObserverList::Token addObserver(ObserverList::Observer observer) {
        return observers_.add(std::move(observer));
    }

private:
    std::optional<AudioDevice> readDevice(AudioObjectID id) const;
    void automaticSwitch(const std::set<std::string>& previous, const std::optional<std::string>& current);

    AudioDirection direction_;
    AudioServer& server_;
    MainQueue& mainQueue_;
    std::vector<AudioDevice> devices_;
    AudioObjectID defaultDeviceID_ = 0;
    std::vector<std::unique_ptr<HALListener>> listeners_;
    DeviceRanking ranking_;
    DevicePriorityStore priorityStore_;
    bool hasBaseline_ = false;
    std::optional<std::string> lastDefaultUID_;
    ObserverList observers_;
    LifetimeGuard guard_;
};

} // namespace orevant
