#pragma once
// The console window ("OREVANT Console"): eight strips, one per console slot, in one row or as
// two rows of four (stored under "consoleOrientation"), the record button, and the SCENES area
// with save, recall and delete. It listens to the engine only while shown.
// GUI thread (the main queue) only.
#include "audio/observer_list.h"
#include "platform/lifetime_guard.h"

#include <QWidget>
#include <vector>

class QGridLayout;
class QPushButton;
class QVBoxLayout;

namespace orevant {

class ConsoleStrip;
class DefaultsStore;
class MainQueue;
class MixerEngine;
class RecordButton;

class ConsoleWindow final : public QWidget {
public:
    static constexpr const char* kOrientationKey = "consoleOrientation";

    ConsoleWindow(MixerEngine& engine, MainQueue& mainQueue, DefaultsStore& defaults, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    bool isPortrait() const { return isPortrait_; }
    void setPortrait(bool portrait);
    void refreshNow();

    ConsoleStrip& strip(int index) const { return *strips_.at(static_cast<size_t>(index)); }
    RecordButton& recordButton() const { return *record_; }
    QPushButton& saveSceneButton() const { return *saveScene_; }
    // The recall button of each scene, in the engine's order.
    std::vector<QPushButton*> sceneButtons() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void placeStrips();
    void rebuildScenes();
    void scheduleRefresh();

    MixerEngine& engine_;
    MainQueue& mainQueue_;
    DefaultsStore& defaults_;
    bool isPortrait_ = false;
    std::vector<ConsoleStrip*> strips_;
    QGridLayout* grid_;
    QPushButton* orientation_;
    RecordButton* record_;
    QPushButton* saveScene_;
    QWidget* scenes_;
    QVBoxLayout* scenesLayout_;
    std::vector<std::string> builtScenes_;
    bool refreshPending_ = false;
    ObserverList::Token token_;
    LifetimeGuard guard_;
};

} // namespace orevant
