#pragma once
// The status item's command menu: a right click (or a Control-click) on the status item opens it
// instead of the mixer window. The menu is rebuilt on every opening from the current state; its
// actions are carried out here, one of them copying a diagnostics report to the clipboard.
//
// The tray (a later desktop front end) shows the items this model builds and hands its clicks
// to handleEvent and perform. Main thread only.
#include "app/system_info.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class AutostartEntry;
class MixerEngine;
class UpdateController;

class StatusItemMenuController {
public:
    static constexpr uint64_t kMonitoredEventMask = 10; // left and right mouse down
    static constexpr uint64_t kControlModifierFlag = 0x40000;
    static constexpr const char* kStatusBarWindowClass = "NSStatusBarWindow";
    static constexpr const char* kShowSettingsNotification = "orevant.showSettings";
    static constexpr const char* kSupportURL = "https://orevant.brenlake.com/support";
    static constexpr const char* kEULAURL = "https://orevant.brenlake.com/licence";

    enum class Action {
        none,
        toggleLaunchAtLogin,
        checkForUpdates,
        toggleAutoUpdate,
        openSettings,
        openSupport,
        copyDiagnostics,
        openEULA,
        quit,
    };

    struct MenuItem {
        std::string title;
        bool isSeparator = false;
        bool isEnabled = true;
        bool isChecked = false;
        std::string keyEquivalent;
        Action action = Action::none;
        bool operator==(const MenuItem&) const = default;
    };

    struct MouseEvent {
        enum class Type { leftMouseDown, rightMouseDown };
        Type type = Type::leftMouseDown;
        std::string windowClassName;
        uint64_t modifierFlags = 0;
    };
    enum class EventResult { passOn, swallowed };

    struct AppInfo {
        std::optional<std::string> shortVersion; // none: shown as "dev"
        std::string buildVersion;
    };

    // What the actions reach outside the model. Unset hooks do nothing.
    struct Hooks {
        std::function<void(const std::vector<MenuItem>&)> popUpMenu;
        std::function<void(const std::string&)> copyToPasteboard;
        std::function<void(const std::string&)> openURL;
        std::function<void(const std::string&)> postNotification;
        std::function<void()> quit;
    };

    // `engine` resolves the engine each time it is needed (null once it is gone); by default
    // the process-wide current engine.
    StatusItemMenuController(std::shared_ptr<UpdateController> updater, AutostartEntry& loginItem, AppInfo app,
                             SystemInfo system, Hooks hooks, std::function<MixerEngine*()> engine = {});

    void installMonitor();
    bool hasMonitor() const { return monitor_; }
    // The monitor's filter for one mouse-down event.
    EventResult handleEvent(const MouseEvent& event);

    std::vector<MenuItem> buildMenu() const;
    void perform(Action action);

    // Lines joined with "\n", no trailing newline.
    std::string diagnosticsReport() const;

private:
    std::string shortVersion() const;
    MixerEngine* engine() const;

    std::shared_ptr<UpdateController> updater_;
    AutostartEntry& loginItem_;
    AppInfo app_;
    SystemInfo system_;
    Hooks hooks_;
    std::function<MixerEngine*()> engine_;
    bool monitor_ = false;
};

} // namespace orevant
