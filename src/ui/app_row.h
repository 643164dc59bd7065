#pragma once
// One application in the mixer: icon, name, level slider with the speaker symbol (a tap mutes),
// the percentage label and a meter; below, one line per device the application is routed to,
// each with a remove button. Its context menu resets, plays on the default output, and learns
// MIDI for the application's target. Actions go to the engine; the row keeps only its bundle ID.
//
// GUI thread (the main queue) only.
#include "audio/audio_app.h"

#include <QWidget>
#include <functional>
#include <string>

class QLabel;

namespace orevant {

class LevelMeter;
class LevelSlider;
class MixerEngine;

class AppRow final : public QWidget {
public:
    // "muted", or the volume as a whole percentage, truncated ("99%" at 0.999).
    static std::string label(float volume, bool isMuted);
    static std::string speakerSymbol(float volume, bool isMuted);

    AppRow(MixerEngine& engine, const AudioApp& app, QWidget* parent = nullptr);

    const std::string& bundleID() const { return bundleID_; }
    // Shows the engine's current values (volume, mute, meter, learn caption).
    void refresh();

    LevelSlider& slider() const { return *slider_; }
    LevelMeter& meter() const { return *meter_; }
    QString labelText() const;
    QString captionText() const;

    // Runs after an action that the engine does not announce (learn mode).
    std::function<void()> onLearnChanged;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // The application as the process monitor lists it now; its last known form when gone.
    AudioApp current() const;

    MixerEngine& engine_;
    std::string bundleID_;
    AudioApp app_;
    LevelSlider* slider_;
    LevelMeter* meter_;
    QLabel* label_;
    QLabel* caption_;
};

} // namespace orevant
