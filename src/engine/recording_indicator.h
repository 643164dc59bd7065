#pragma once
// The model of the indicator shown while a take is open: present exactly while the engine
// records, with the tool tip "OREVANT is recording" and a menu of a disabled "Recording" item
// (tag 1, which shows the elapsed capture time when the menu opens), a separator and
// "Stop Recording". A view draws it and forwards the menu's events; it keeps no state of its own.
//
// Threads: main queue only. The attached engine must outlive the attachment (detach() or
// destroy the indicator first).
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orevant {

class MixerEngine;

class RecordingIndicator {
public:
    static constexpr const char* kToolTip = "OREVANT is recording";
    static constexpr const char* kTimeTitle = "Recording";
    static constexpr const char* kStopTitle = "Stop Recording";
    static constexpr int kTimeItemTag = 1;

    struct MenuItem {
        std::string title; // empty for the separator
        bool isEnabled = false;
        bool isSeparator = false;
        int tag = 0;
        bool operator==(const MenuItem&) const = default;
    };

    explicit RecordingIndicator(MainQueue& mainQueue);
    ~RecordingIndicator();
    RecordingIndicator(const RecordingIndicator&) = delete;
    RecordingIndicator& operator=(const RecordingIndicator&) = delete;

    // Shows or hides the indicator for the engine's recording flag now, then follows the flag:
    // each change of the engine schedules an update on the main queue.
    void attach(MixerEngine& engine);
    void detach();

    bool isShown() const { return isShown_; }
    // The menu while shown; empty otherwise.
    const std::vector<MenuItem>& menu() const { return menu_; }

    // The menu is about to open: the tag-1 item shows the time captured so far. The title is
    // not updated again while the menu stays open.
    void menuWillOpen();
    // "Stop Recording" was chosen.
    void stopRecording();

    // "Recording — mm:ss" for `frames` of capture at `sampleRate` (whole seconds; the minutes
    // are not limited to two digits).
    static std::string elapsedTitle(int64_t frames, double sampleRate);

    // Called after the indicator appeared, disappeared or changed its menu (the view redraws).
    std::function<void()> onChange;

private:
    void update(bool isRecording);
    void observe();

    MainQueue& mainQueue_;
    MixerEngine* engine_ = nullptr;
    ObserverList::Token token_;
    bool updatePending_ = false;
    bool isShown_ = false;
    std::vector<MenuItem> menu_;
    LifetimeGuard guard_;
};

} // namespace orevant
