#pragma once
// One strip of the console: the slot's target name (its menu clears the slot and learns MIDI
// for the level and for the cue), icon, meter, vertical level control and, for applications,
// the cue button; an empty slot shows "Assign" with a menu of buses, system controls and apps.
// GUI thread only.
#include "ui/strip_model.h"

#include <QWidget>
#include <functional>
#include <string>

class QLabel;
class QMenu;
class QSlider;
class QToolButton;

namespace orevant {

class LevelMeter;
class MixerEngine;

class ConsoleStrip final : public QWidget {
public:
    ConsoleStrip(MixerEngine& engine, int index, QWidget* parent = nullptr);

    // Shows the slot's current target and values.
    void refresh();

    const std::string& target() const { return target_; }
    // The menus as they would open now.
    QMenu& assignMenu();
    QMenu& stripMenu();
    QToolButton& cueButton() const { return *cue_; }
    QString captionText() const;

    std::function<void()> onLearnChanged;

private:
    void buildAssignMenu();
    void buildStripMenu();

    MixerEngine& engine_;
    int index_;
    std::string target_;
    StripModel model_;
    QToolButton* assign_;
    QToolButton* name_;
    QLabel* icon_;
    QLabel* caption_;
    LevelMeter* meter_;
    QSlider* slider_;
    QToolButton* cue_;
};

} // namespace orevant
