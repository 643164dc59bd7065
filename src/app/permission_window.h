#pragma once
// The audio-capture permission prompt. While the engine lacks the user's consent to tap other
// applications' audio it sets needsAudioCapturePermission; the prompt window is then shown once
// per launch, and closes by itself when the flag clears. The banner in the mixer window is the
// lasting reminder: it shows whenever the flag is set.
//
// The window itself belongs to a front end (a Presenter); this is its model. The agent hands it
// the engine's flag. Main thread only.
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <functional>
#include <memory>

namespace orevant {

class PermissionWindow {
public:
    static constexpr const char* kWindowTitle = "OREVANT";
    static constexpr const char* kHeading = "OREVANT needs permission to hear your apps";
    // On Linux no privacy switch guards other applications' audio: what the agent needs is to reach
    // the PipeWire server and place its filters there, and that is what these texts explain.
    static constexpr const char* kBody =
        "To set an app's volume, OREVANT passes that app's sound through a filter of its own on the PipeWire "
        "audio server. It could not place that filter, so until it can, the faders will not move anything.\n\n"
        "Nothing is recorded unless you press REC, and no audio ever leaves this computer.";
    static constexpr const char* kInstruction =
        "Make sure PipeWire and WirePlumber run in your session (systemctl --user status pipewire wireplumber). "
        "If OREVANT runs in a sandbox such as Flatpak, allow it access to PipeWire, then reopen the app.";
    static constexpr const char* kNotNowButton = "Not Now";
    static constexpr const char* kOpenSettingsButton = "Open Sound Settings";
    static constexpr const char* kSettingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AudioCapture";

    static constexpr const char* kBannerSymbol = "exclamationmark.triangle.fill";
    static constexpr const char* kBannerTitle = "Audio access needed";
    static constexpr const char* kBannerLine = "OREVANT cannot place its filters on the PipeWire audio server.";
    static constexpr const char* kBannerButton = "Open";

    // Shows and closes the actual window.
    class Presenter {
    public:
        virtual ~Presenter() = default;
        virtual void show() = 0;
        virtual void close() = 0;
    };

    // The flag being watched: its current value and a way to hear of changes.
    struct Flag {
        std::function<bool()> read;
        std::function<ObserverList::Token(ObserverList::Observer)> observe;
    };

    // Calls update() from a main-queue task now, and again after every change of the flag.
    PermissionWindow(MainQueue& mainQueue, Flag flag, std::shared_ptr<Presenter> presenter);
    ~PermissionWindow();
    PermissionWindow(const PermissionWindow&) = delete;
    PermissionWindow& operator=(const PermissionWindow&) = delete;

    void update();
    // Closes the window ("Not Now", the close box, or the flag clearing).
    void close();
    // "Open Privacy Settings": opens the settings page, then closes.
    void openPrivacySettings(const std::function<void(const std::string&)>& openURL);

    bool isOpen() const { return isOpen_; }
    bool shownThisLaunch() const { return shownThisLaunch_; }
    // The banner shows exactly while permission is needed, however often the prompt was shown.
    static bool isBannerVisible(bool needsAudioCapturePermission) { return needsAudioCapturePermission; }

private:
    MainQueue& mainQueue_;
    Flag flag_;
    std::shared_ptr<Presenter> presenter_;
    ObserverList::Token token_;
    bool lastValue_ = false;
    bool isOpen_ = false;
    bool shownThisLaunch_ = false;
    LifetimeGuard guard_;
};

} // namespace orevant
