#include "ui/app_row.h"

#include "audio/audio_process_monitor.h"
#include "engine/mixer_engine.h"
#include "midi/midi_mapping_manager.h"
#include "ui/learn_menu.h"
#include "ui/level_meter.h"
#include "ui/level_slider.h"
#include "ui/symbols.h"

#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace orevant {

std::string AppRow::label(float volume, bool isMuted) {
    if (isMuted) return "muted";
    const double v = std::isfinite(volume) ? std::clamp(static_cast<double>(volume), 0.0, 1.0) : 0.0;
    // The small bias keeps a float such as 0.29f (0.28999...) from showing as 28%.
    return std::to_string(static_cast<int>(v * 100.0 + 1e-4)) + "%";
}

std::string AppRow::speakerSymbol(float volume, bool isMuted) {
    if (isMuted) return "speaker.slash.fill";
    if (!(volume > 0.0f)) return "speaker.fill";
    if (volume < 0.34f) return "speaker.wave.1.fill";
    if (volume < 0.67f) return "speaker.wave.2.fill";
    return "speaker.wave.3.fill";
}

AppRow::AppRow(MixerEngine& engine, const AudioApp& app, QWidget* parent)
    : QWidget(parent),
      engine_(engine),
      bundleID_(app.bundleID),
      app_(app),
      slider_(new LevelSlider(this)),
      meter_(new LevelMeter(Qt::Horizontal, this)),
      label_(new QLabel(this)),
      caption_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);

    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme(QString::fromStdString(app.bundleID), Symbols::icon("app.fill")).pixmap(20, 20));
    top->addWidget(icon);
    auto* name = new QLabel(QString::fromStdString(app.name.empty() ? app.bundleID : app.name), this);
    name->setTextFormat(Qt::PlainText); // names come from other programs
    name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    top->addWidget(name, 1);
    caption_->setStyleSheet("color: palette(mid)");
    top->addWidget(caption_);
    layout->addLayout(top);

    auto* levels = new QGridLayout;
    levels->setHorizontalSpacing(6);
    levels->setVerticalSpacing(1);
    levels->addWidget(slider_, 0, 0);
    label_->setMinimumWidth(44);
    label_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    levels->addWidget(label_, 0, 1);
    levels->addWidget(meter_, 1, 0);
    layout->addLayout(levels);
    slider_->setAccessibleName(QString::fromStdString(app.name) + " volume");
    slider_->onChange = [this](float v) { engine_.setVolume(v, current()); };
    slider_->onSymbolTap = [this] { engine_.toggleMute(current()); };

    for (const std::string& uid : engine.outputDeviceUIDs(app)) {
        auto* line = new QHBoxLayout;
        line->setContentsMargins(24, 0, 0, 0);
        auto* arrow = new QLabel(this);
        arrow->setPixmap(Symbols::icon("arrow.turn.down.right").pixmap(14, 14));
        line->addWidget(arrow);
        auto* device = new QLabel(QString::fromStdString(engine.deviceName(uid).value_or("Unavailable")), this);
        device->setTextFormat(Qt::PlainText);
        line->addWidget(device, 1);
        auto* remove = new QToolButton(this);
        remove->setIcon(Symbols::icon("xmark.circle.fill"));
        remove->setAutoRaise(true);
        remove->setToolTip("Stop playing to this device");
        connect(remove, &QToolButton::clicked, this, [this, uid] { engine_.removeOutput(uid, current()); });
        line->addWidget(remove);
        layout->addLayout(line);
    }
    refresh();
}

AudioApp AppRow::current() const {
    for (const AudioApp& app : engine_.processMonitor().apps()) {
        if (app.bundleID == bundleID_) return app;
    }
    return app_;
}

void AppRow::refresh() {
    const AppVolume setting = engine_.volume(current());
    slider_->setValue(setting.volume);
    slider_->setSymbol(speakerSymbol(setting.volume, setting.isMuted));
    const QString text = QString::fromStdString(label(setting.volume, setting.isMuted));
    if (label_->text() != text) label_->setText(text);
    const auto& levels = engine_.meterLevels();
    auto level = levels.find(bundleID_);
    meter_->setLevel(level == levels.end() ? 0.0f : level->second);
    const QString caption = QString::fromStdString(
        LearnMenu::caption(engine_.midiMapping(), bundleID_, "\u2022 Learn MIDI...").value_or(""));
    if (caption_->text() != caption) caption_->setText(caption);
}

QString AppRow::labelText() const { return label_->text(); }
QString AppRow::captionText() const { return caption_->text(); }

void AppRow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    connect(menu.addAction("Reset to 100%"), &QAction::triggered, this, [this] { engine_.resetApp(current()); });
    connect(menu.addAction("Play on default output"), &QAction::triggered, this,
            [this] { engine_.clearOutputs(current()); });
    menu.addSeparator();
    LearnMenu::add(menu, engine_.midiMapping(), bundleID_, "", [this] {
        refresh();
        if (onLearnChanged) onLearnChanged();
    });
    menu.exec(event->globalPos());
}

} // namespace orevant
