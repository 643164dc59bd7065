#include "audio/audio_device_monitor.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "platform/defaults_store.h"
#include "platform/logger.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("AudioDeviceMonitor");
    return logger;
}

// Total channels of a stream configuration ("slay"): a stream count, then one channel count per
// stream. Nothing when the property cannot be read or is malformed.
std::optional<int> streamChannels(AudioServer& server, AudioObjectID device, uint32_t scope) {
    const PropertyAddress address{sel::streamConfiguration, scope, 0};
    uint32_t size = 0;
    if (server.getPropertyDataSize(device, address, size) != 0 || size < 4) return std::nullopt;
    std::vector<uint32_t> words((size + 3) / 4);
    uint32_t ioSize = static_cast<uint32_t>(words.size() * 4);
    if (server.getPropertyData(device, address, ioSize, words.data()) != 0 || ioSize < 4) return std::nullopt;
    const size_t available = ioSize / 4 - 1;
    const size_t streams = std::min<size_t>(words[0], available);
    int64_t total = 0;
    for (size_t i = 0; i < streams; ++i) total += words[1 + i];
    if (streams == 0) return std::nullopt;
    return static_cast<int>(std::min<int64_t>(total, INT32_MAX));
}
} // namespace

AudioDeviceMonitor::AudioDeviceMonitor(AudioDirection direction, AudioServer& server, MainQueue& mainQueue,
                                       DefaultsStore& defaults)
    : direction_(direction),
      server_(server),
      mainQueue_(mainQueue),
      priorityStore_{direction == AudioDirection::output ? "devicePriority" : "devicePriorityInput", &defaults} {}

AudioDeviceMonitor::~AudioDeviceMonitor() = default;

void AudioDeviceMonitor::start() {
    ranking_ = priorityStore_.load();
    auto block = [queue = &mainQueue_, changed = guard_.wrap([this] { refresh(); })](uint32_t, const PropertyAddress*) {
        queue->post(changed);
    };
    listeners_.clear();
    listeners_.push_back(std::make_unique<HALListener>(server_, kAudioObjectSystemObject,
                                                       PropertyAddress{sel::deviceList, scope::global, 0}, block));
    listeners_.push_back(
        std::make_unique<HALListener>(server_, kAudioObjectSystemObject,
                                      PropertyAddress{defaultDeviceSelector(direction_), scope::global, 0}, block));
    refresh();
}

std::optional<AudioDevice> AudioDeviceMonitor::readDevice(AudioObjectID id) const {
    const HAL hal(server_);
    auto channels = streamChannels(server_, id, scopeFor(direction_));
    if (!channels || *channels <= 0) return std::nullopt;
    AudioDevice device;
    device.id = id;
    try {
        device.uid = hal.readString(id, sel::deviceUID);
        device.name = hal.readString(id, sel::name);
    } catch (const HALError&) {
        return std::nullopt;
    }
    auto read32 = [&](uint32_t selector, uint32_t scope) -> uint32_t {
        try {
            return hal.read<uint32_t>(id, selector, scope);
        } catch (const HALError&) {
            return 0;
        }
    };
    device.transport = read32(sel::transportType, scope::global);
    if (isOwnTapAggregate(device)) return std::nullopt;
    device.outputDataSource = read32(sel::dataSource, scope::output);
    device.inputDataSource = read32(sel::dataSource, scope::input);
    device.outputChannels = streamChannels(server_, id, scope::output).value_or(0);
    return device;
}

void AudioDeviceMonitor::refresh() {
    assert(mainQueue_.isCurrent());
    const HAL hal(server_);
    AudioObjectID defaultID = 0;
    try {
        defaultID = hal.read<uint32_t>(kAudioObjectSystemObject, defaultDeviceSelector(direction_));
    } catch (const HALError&) {}
    bool changed = defaultID != defaultDeviceID_;
    defaultDeviceID_ = defaultID;

    std::optional<std::string> currentUID;
    if (defaultID != 0) {
        try {
            currentUID = hal.readString(defaultID, sel::deviceUID);
        } catch (const HALError&) {}
    }

    std::vector<AudioObjectID> ids;
    try {
        ids = hal.readIDs(kAudioObjectSystemObject, sel::deviceList);
    } catch (const HALError&) {
        log().error("Failed to read device list");
        if (changed) observers_.notify();
        return;
    }

    std::set<std::string> previous;
    for (const AudioDevice& d : devices_) previous.insert(d.uid);

    std::vector<AudioDevice> list;
    for (AudioObjectID id : ids)
        if (auto device = readDevice(id)) list.push_back(std::move(*device));
    ranking_.sort(list);
    if (list != devices_) {
        devices_ = std::move(list);
        changed = true;
    }

    automaticSwitch(previous, currentUID);
    lastDefaultUID_ = currentUID;
    hasBaseline_ = true;
    if (changed) observers_.notify();
}

void AudioDeviceMonitor::automaticSwitch(const std::set<std::string>& previous,
                                         const std::optional<std::string>& current) {
    if (!hasBaseline_) return;
    if (current == kMultiOutputUID) return;

    const auto armedRanked = [this](const std::string& uid) { return ranking_.isArmed(uid) && ranking_.rank(uid); };
    const auto isPresent = [this](const std::string& uid) { return device(uid) != nullptr; };

    std::optional<std::string> target;
    bool defaultGone = false;
    if (lastDefaultUID_ && previous.count(*lastDefaultUID_) && !isPresent(*lastDefaultUID_)) {
        std::optional<std::string> best;
        for (const AudioDevice& d : devices_) {
            if (!armedRanked(d.uid)) continue;
            if (!best || *ranking_.rank(d.uid) < *ranking_.rank(*best)) best = d.uid;
        }
        if (!best) return;
        if (current && *current == *best) return;
        target = best;
        defaultGone = true;
    } else {
        std::vector<std::string> newcomers;
        for (const AudioDevice& d : devices_)
            if (!previous.count(d.uid) && armedRanked(d.uid)) newcomers.push_back(d.uid);
        if (newcomers.size() != 1 || !current) return;
        const auto currentRank = ranking_.rank(*current);
        if (currentRank && *ranking_.rank(newcomers.front()) >= *currentRank) return;
        target = newcomers.front();
    }

    const AudioDevice* chosen = device(*target);
    if (!chosen) return;
    const AudioDevice copy = *chosen; // setDefault notifies observers, which may look at devices_
    log().info(strprintf(defaultGone ? "Default device disappeared; switching to %s"
                                     : "Higher-priority device connected; switching to %s",
                         copy.name.c_str()));
    setDefault(copy);
}

void AudioDeviceMonitor::setDefault(const AudioDevice& device) {
    try {
        HAL(server_).write(kAudioObjectSystemObject, defaultDeviceSelector(direction_), scope::global,
                           static_cast<uint32_t>(device.id));
    } catch (const HALError& error) {
        log().error(strprintf("Failed to set default device to %s: %s", device.name.c_str(), error.what()));
        return;
    }
    if (defaultDeviceID_ != device.id) {
        defaultDeviceID_ = device.id;
        observers_.notify();
    }
}

void AudioDeviceMonitor::reorder(const std::vector<std::string>& visibleOrder, const std::string& movedUID) {
    ranking_.order = DeviceRanking::merge(ranking_.order, visibleOrder);
    priorityStore_.saveOrder(ranking_.order);
    ranking_.armed.insert(movedUID);
    priorityStore_.saveArmed(ranking_.armed);
    std::vector<AudioDevice> sorted = devices_;
    ranking_.sort(sorted);
    devices_ = std::move(sorted);
    observers_.notify();
}

const AudioDevice* AudioDeviceMonitor::defaultDevice() const {
    for (const AudioDevice& d : devices_)
        if (d.id == defaultDeviceID_) return &d;
    return nullptr;
}

const AudioDevice* AudioDeviceMonitor::device(const std::string& uid) const {
    for (const AudioDevice& d : devices_)
        if (d.uid == uid) return &d;
    return nullptr;
}

} // namespace orevant
