#pragma once
// The mixer window: the "Local Mixer" and phone tabs, the Output / Microphone switch, the
// system row, the bus section, the device list, Bluetooth, the application rows, the empty and
// waiting states, and the permission and update banners on top.
//
// It reads the engine and its monitors and calls their operations; beside the view state below
// it keeps nothing. It listens only while shown: a change schedules one refresh on the main
// queue, which rebuilds the rows when the lists changed and otherwise only updates values (a
// meter repaints only when it moved), so with the window closed a meter tick costs nothing.
//
// A device row dragged onto an application row routes that application to the device; onto the
// MAIN zone it becomes the default output; the PHONES zone takes nothing; dragged up or down
// within the list it reorders the list. The zones are rectangles hit-tested from mouse events.
//
// GUI thread (the main queue) only.
#include "audio/audio_direction.h"
#include "audio/observer_list.h"
#include "engine/output_bus.h"
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <QRect>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QScrollArea;
class QStackedWidget;
class QPushButton;

namespace orevant {

class AppRow;
class BusSection;
class CompanionPanel;
class DeviceRow;
class MainQueue;
class MixerEngine;
class UpdateController;

class MixerWindow final : public QWidget {
public:
    static constexpr const char* kWaiting = "Waiting for the audio system…";
    static constexpr const char* kNothingPlaying = "Nothing is playing";
    static constexpr const char* kNothingRecording = "Nothing is using the microphone";

    MixerWindow(MixerEngine& engine, MainQueue& mainQueue, UpdateController* updater, QWidget* parent = nullptr);
    ~MixerWindow() override;

    // ---- View state ----
    AudioDirection direction() const { return direction_; }
    void setDirection(AudioDirection direction);
    // "volume" or "phone".
    const std::string& activeTab() const { return activeTab_; }
    void setActiveTab(const std::string& tab);
    const std::map<OutputBus, QRect>& busZones() const { return busZones_; }
    std::optional<OutputBus> busTarget() const { return busTarget_; }
    const std::map<std::string, QRect>& appRouteZones() const { return appRouteZones_; }
    const std::optional<std::string>& routeTargetBundleID() const { return routeTargetBundleID_; }

    // Rebuilds or updates now, rather than on the main queue.
    void refreshNow();
    // Something outside the engine changed (the update controller).
    void scheduleRefresh();

    // The rows as they are now (tests, the screenshots).
    AppRow* appRow(const std::string& bundleID) const;
    DeviceRow* deviceRow(const std::string& uid) const;
    BusSection* busSection() const { return busSection_; }
    CompanionPanel& companionPanel() const { return *companion_; }
    QString stateText() const;
    QString bannerText() const;

    std::function<void()> onOpenConsole;
    std::function<void()> onShowPermissionHelp;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::string structureKey() const;
    void rebuild();
    void updateValues();
    void listen();
    void buildOutputSide(QWidget* content);
    void buildInputSide(QWidget* content);
    void buildBanners(QWidget* content);
    void addDeviceRows(QWidget* content, AudioDirection direction);
    QLabel* addHeading(QWidget* content, const QString& text);
    void addEmptyState(QWidget* content, const char* symbol, const char* text);

    void devicePressed(const std::string& uid, QPoint at);
    void deviceMoved(QPoint at);
    void deviceReleased(QPoint at);
    void showDropTargets();
    QRect inWindow(const QWidget* widget) const;

    MixerEngine& engine_;
    MainQueue& mainQueue_;
    UpdateController* updater_;

    AudioDirection direction_ = AudioDirection::output;
    std::string activeTab_ = "volume";
    std::map<OutputBus, QRect> busZones_;
    std::optional<OutputBus> busTarget_;
    std::map<std::string, QRect> appRouteZones_;
    std::optional<std::string> routeTargetBundleID_;

    // The device row being dragged.
    std::optional<std::string> dragUID_;
    QPoint pressAt_;
    bool dragMoved_ = false;

    QPushButton* localTab_;
    QPushButton* phoneTab_;
    QPushButton* outputSwitch_;
    QPushButton* inputSwitch_;
    QWidget* directionBar_;
    QStackedWidget* pages_;
    QScrollArea* scroll_;
    CompanionPanel* companion_;
    BusSection* busSection_ = nullptr;
    std::vector<AppRow*> appRows_;
    std::vector<DeviceRow*> deviceRows_;
    QLabel* stateLabel_ = nullptr;
    QLabel* bannerLabel_ = nullptr;
    std::string builtKey_;
    bool refreshPending_ = false;
    // A rebuild put off while a drag or a menu runs.
    TaskHandle recheck_;
    static constexpr double kRecheckSeconds = 0.25;
    std::vector<ObserverList::Token> tokens_;
    LifetimeGuard guard_;
};

} // namespace orevant
