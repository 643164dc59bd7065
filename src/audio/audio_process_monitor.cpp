#include "audio/audio_process_monitor.h"

#include "audio/hal.h"
#include "audio/hal_listener.h"
#include "audio/localized_compare.h"
#include "platform/logger.h"
#include "platform/workspace.h"

#include <algorithm>
#include <cassert>
#include <map>
#include <set>

namespace orevant {

namespace {
const Logger& log() {
    static const Logger logger("AudioProcessMonitor");
    return logger;
}

std::string listText(const std::vector<AudioObjectID>& ids) {
    std::string text = "[";
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(ids[i]);
    }
    return text + "]";
}

const char* boolText(bool b) { return b ? "true" : "false"; }

struct Group {
    RunningApplication app;
    std::vector<AudioObjectID> objects;
    bool playing = false;
    bool recording = false;
};
} // namespace

AudioProcessMonitor::AudioProcessMonitor(AudioServer& server, MainQueue& mainQueue, Workspace& workspace)
    : server_(server), mainQueue_(mainQueue), workspace_(workspace) {}

AudioProcessMonitor::~AudioProcessMonitor() {
    pollTask_.cancel();
    pendingRefresh_.cancel();
}

void AudioProcessMonitor::start() {
    if (pollTask_.isValid()) return;
    auto changed = guard_.wrap([this] { scheduleRefresh(); });
    listListener_ = std::make_unique<HALListener>(
        server_, kAudioObjectSystemObject, PropertyAddress{sel::processObjectList, scope::global, 0},
        [queue = &mainQueue_, changed](uint32_t, const PropertyAddress*) { queue->post(changed); });
    schedulePoll();
    refresh();
}

void AudioProcessMonitor::schedulePoll() {
    pollTask_ = mainQueue_.postAfter(kPollSeconds, guard_.wrap([this] {
        refresh();
        schedulePoll();
    }));
}

void AudioProcessMonitor::scheduleRefresh() {
    pendingRefresh_.cancel();
    pendingRefresh_ = mainQueue_.postAfter(kDebounceSeconds, guard_.wrap([this] { refresh(); }));
}

int32_t AudioProcessMonitor::owner(int32_t pid) const {
    if (!workspace_.hasResponsibleProcessLookup()) return pid;
    const int32_t responsible = workspace_.responsibleProcess(pid);
    return responsible < 1 ? pid : responsible;
}

bool AudioProcessMonitor::isRunningOutput(AudioObjectID object) const {
    try {
        return HAL(server_).read<uint32_t>(object, sel::processIsRunningOutput) != 0;
    } catch (const HALError&) {
        return false;
    }
}

void AudioProcessMonitor::refresh() {
    assert(mainQueue_.isCurrent());
    const HAL hal(server_);
    std::vector<AudioObjectID> objects;
    try {
        objects = hal.readIDs(kAudioObjectSystemObject, sel::processObjectList);
    } catch (const HALError&) {
        log().error("Failed to read HAL process list");
        return;
    }

    const std::string ownBundle = workspace_.mainBundleIdentifier();
    auto readFlag = [&](AudioObjectID object, uint32_t selector) {
        try {
            return hal.read<uint32_t>(object, selector) != 0;
        } catch (const HALError&) {
            return false;
        }
    };

    std::map<int32_t, Group> groups;
    for (AudioObjectID object : objects) {
        int32_t pid;
        try {
            pid = hal.read<int32_t>(object, sel::processPID);
        } catch (const HALError&) {
            continue;
        }
        auto app = workspace_.runningApplication(owner(pid));
        if (!app) app = workspace_.runningApplication(pid);
        if (!app) continue;
        if (!app->bundleIdentifier || *app->bundleIdentifier == ownBundle) continue;
        Group& group = groups.try_emplace(app->processIdentifier, Group{*app, {}, false, false}).first->second;
        group.objects.push_back(object);
        if (!group.playing) group.playing = readFlag(object, sel::processIsRunningOutput);
        if (!group.recording) group.recording = readFlag(object, sel::processIsRunningInput);
    }

    std::vector<AudioApp> list;
    for (auto& [key, group] : groups) {
        if (group.app.activationPolicy != ActivationPolicy::regular && !group.playing && !group.recording) continue;
        AudioApp app;
        app.id = key;
        app.bundleID = group.app.bundleIdentifier.value_or("");
        if (group.app.localizedName) {
            app.name = *group.app.localizedName;
        } else if (group.app.bundleIdentifier) {
            app.name = *group.app.bundleIdentifier;
        } else {
            app.name = "pid " + std::to_string(key);
        }
        app.objectIDs = group.objects;
        std::sort(app.objectIDs.begin(), app.objectIDs.end());
        app.isPlaying = group.playing;
        app.isRecording = group.recording;
        list.push_back(std::move(app));
    }
    std::stable_sort(list.begin(), list.end(), [](const AudioApp& a, const AudioApp& b) {
        if (a.isPlaying != b.isPlaying) return a.isPlaying;
        return localizedCaseInsensitiveLess(a.name, b.name);
    });

    if (list == apps_) return;
    apps_ = std::move(list);
    observers_.notify();

    std::string names;
    for (const AudioApp& app : apps_) {
        if (!names.empty()) names += ", ";
        names += app.name;
        if (app.isPlaying) names += "*";
    }
    log().info(strprintf("Apps: %ld/%ld HAL processes — %s", static_cast<long>(apps_.size()),
                         static_cast<long>(objects.size()), names.c_str()));

    std::set<AudioObjectID> grouped;
    for (const AudioApp& app : apps_) {
        grouped.insert(app.objectIDs.begin(), app.objectIDs.end());
        log().debug(strprintf("GROUP %s objects=%s playing=%s", app.name.c_str(), listText(app.objectIDs).c_str(),
                              boolText(app.isPlaying)));
    }
    for (AudioObjectID object : objects) {
        if (grouped.count(object)) continue;
        int32_t pid = -1;
        try {
            pid = hal.read<int32_t>(object, sel::processPID);
        } catch (const HALError&) {}
        const int32_t ownerPID = owner(pid);
        std::string bundle = "?";
        auto app = workspace_.runningApplication(ownerPID);
        if (!app || !app->bundleIdentifier) app = workspace_.runningApplication(pid);
        if (app && app->bundleIdentifier) bundle = *app->bundleIdentifier;
        log().debug(strprintf("UNGROUPED object=%u pid=%d owner=%d bundle=%s out=%s", object, pid, ownerPID,
                              bundle.c_str(), boolText(isRunningOutput(object))));
    }
}

} // namespace orevant
