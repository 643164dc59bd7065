#include "ui/console_strip.h"

#include "audio/audio_process_monitor.h"
#include "engine/control_target.h"
#include "engine/mixer_engine.h"
#include "ui/learn_menu.h"
#include "ui/level_meter.h"
#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace orevant {

namespace {

constexpr int kSliderSteps = 1000;

} // namespace

ConsoleStrip::ConsoleStrip(MixerEngine& engine, int index, QWidget* parent)
    : QWidget(parent),
      engine_(engine),
      index_(index),
      assign_(new QToolButton(this)),
      name_(new QToolButton(this)),
      icon_(new QLabel(this)),
      caption_(new QLabel(this)),
      meter_(new LevelMeter(Qt::Vertical, this)),
      slider_(new QSlider(Qt::Vertical, this)),
      cue_(new QToolButton(this)) {
    setAttribute(Qt::WA_StyledBackground);
    setObjectName("strip");
    setStyleSheet("#strip { border: 1px solid palette(midlight); border-radius: 4px; }");
    setMinimumWidth(76);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);

    assign_->setText("Assign");
    assign_->setIcon(Symbols::icon("plus"));
    assign_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    assign_->setPopupMode(QToolButton::InstantPopup);
    assign_->setMenu(new QMenu(assign_));
    connect(assign_->menu(), &QMenu::aboutToShow, this, [this] { buildAssignMenu(); });
    layout->addWidget(assign_, 1, Qt::AlignCenter);

    icon_->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon_);
    name_->setPopupMode(QToolButton::InstantPopup);
    name_->setMenu(new QMenu(name_));
    name_->setAutoRaise(true);
    connect(name_->menu(), &QMenu::aboutToShow, this, [this] { buildStripMenu(); });
    layout->addWidget(name_, 0, Qt::AlignCenter);
    caption_->setAlignment(Qt::AlignCenter);
    caption_->setStyleSheet("color: palette(mid); font-size: 9px;");
    layout->addWidget(caption_);

    auto* levels = new QHBoxLayout;
    slider_->setRange(0, kSliderSteps);
    slider_->setMinimumHeight(160);
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (slider_->isSliderDown() || slider_->hasFocus()) {
            if (model_.setVolume) model_.setVolume(static_cast<float>(value) / kSliderSteps);
        }
    });
    levels->addWidget(slider_, 0, Qt::AlignHCenter);
    levels->addWidget(meter_);
    layout->addLayout(levels, 1);

    cue_->setText("PFL");
    cue_->setCheckable(true);
    connect(cue_, &QToolButton::clicked, this, [this] {
        if (model_.toggleCue) model_.toggleCue();
    });
    layout->addWidget(cue_, 0, Qt::AlignCenter);
    refresh();
}

void ConsoleStrip::refresh() {
    const auto& slots = engine_.slots();
    target_ = index_ < static_cast<int>(slots.size()) ? slots[index_] : std::string();
    model_ = StripModel::make(engine_, target_);
    const bool filled = !model_.name.empty();
    assign_->setVisible(!filled);
    for (QWidget* w : std::initializer_list<QWidget*>{name_, icon_, caption_, meter_, slider_}) w->setVisible(filled);
    cue_->setVisible(filled && model_.toggleCue);
    if (!filled) return;
    if (name_->text() != QString::fromStdString(model_.name)) name_->setText(QString::fromStdString(model_.name));
    icon_->setPixmap(Symbols::icon(model_.icon).pixmap(22, 22));
    setEnabled(true);
    slider_->setEnabled(model_.isActive);
    if (!slider_->isSliderDown()) {
        const QSignalBlocker block(slider_);
        slider_->setValue(static_cast<int>(std::lround(model_.volume * kSliderSteps)));
    }
    meter_->setLevel(model_.level);
    cue_->setChecked(model_.isCued);
    cue_->setToolTip(model_.isCued ? "Stop cueing to PHONES" : "Cue to PHONES (pre-fade)");
    std::string caption;
    if (model_.midiTarget)
        caption = LearnMenu::caption(engine_.midiMapping(), *model_.midiTarget, "LEARN").value_or("");
    if (caption.empty() && model_.cueMIDITarget) {
        caption = LearnMenu::caption(engine_.midiMapping(), *model_.cueMIDITarget, "LEARN").value_or("");
    }
    caption_->setText(QString::fromStdString(caption));
}

QString ConsoleStrip::captionText() const { return caption_->text(); }

QMenu& ConsoleStrip::assignMenu() {
    buildAssignMenu();
    return *assign_->menu();
}

QMenu& ConsoleStrip::stripMenu() {
    buildStripMenu();
    return *name_->menu();
}

void ConsoleStrip::buildAssignMenu() {
    QMenu& menu = *assign_->menu();
    menu.clear();
    auto add = [this, &menu](const std::string& title, const std::string& target) {
        connect(menu.addAction(QString::fromStdString(title)), &QAction::triggered, this, [this, target] {
            engine_.setSlot(index_, target);
            refresh();
        });
    };
    menu.addSection("Buses");
    add("MAIN", std::string(ControlTarget::kMainBus));
    add("PHONES", std::string(ControlTarget::kPhonesBus));
    menu.addSection("System");
    add("Output", std::string(ControlTarget::kSystemOutput));
    add("Microphone", std::string(ControlTarget::kSystemInput));
    menu.addSection("Apps");
    for (const AudioApp& app : engine_.processMonitor().apps()) {
        if (!app.bundleID.empty()) add(app.name, app.bundleID);
    }
}

void ConsoleStrip::buildStripMenu() {
    QMenu& menu = *name_->menu();
    menu.clear();
    connect(menu.addAction("Clear Slot"), &QAction::triggered, this, [this] {
        engine_.setSlot(index_, "");
        refresh();
    });
    auto changed = [this] {
        refresh();
        if (onLearnChanged) onLearnChanged();
    };
    if (model_.midiTarget) {
        menu.addSeparator();
        LearnMenu::add(menu, engine_.midiMapping(), *model_.midiTarget, model_.name, changed);
    }
    if (model_.cueMIDITarget) {
        menu.addSection("PFL");
        LearnMenu::add(menu, engine_.midiMapping(), *model_.cueMIDITarget, "PFL", changed);
    }
}

} // namespace orevant
