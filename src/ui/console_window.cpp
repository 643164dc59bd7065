#include "ui/console_window.h"

#include "engine/mixer_engine.h"
#include "platform/defaults_store.h"
#include "platform/main_queue.h"
#include "ui/console_strip.h"
#include "ui/record_button.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace orevant {

ConsoleWindow::ConsoleWindow(MixerEngine& engine, MainQueue& mainQueue, DefaultsStore& defaults, QWidget* parent)
    : QWidget(parent), engine_(engine), mainQueue_(mainQueue), defaults_(defaults) {
    setWindowTitle("OREVANT Console");
    resize(720, 470);
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    orientation_ = new QPushButton(this);
    connect(orientation_, &QPushButton::clicked, this, [this] { setPortrait(!isPortrait_); });
    top->addWidget(orientation_);
    top->addStretch(1);
    record_ = new RecordButton(engine, mainQueue, defaults, this);
    top->addWidget(record_);
    layout->addLayout(top);

    grid_ = new QGridLayout;
    for (size_t i = 0; i < MixerEngine::kSlotCount; ++i) {
        auto* strip = new ConsoleStrip(engine, static_cast<int>(i), this);
        strip->onLearnChanged = [this] { scheduleRefresh(); };
        strips_.push_back(strip);
    }
    layout->addLayout(grid_, 1);

    auto* heading = new QLabel("SCENES", this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    saveScene_ = new QPushButton("Save Current Mix as Scene", this);
    connect(saveScene_, &QPushButton::clicked, this, [this] {
        engine_.saveScene(engine_.nextSceneName());
        refreshNow();
    });
    layout->addWidget(saveScene_, 0, Qt::AlignLeft);
    scenes_ = new QWidget(this);
    scenesLayout_ = new QVBoxLayout(scenes_);
    scenesLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scenes_);

    const std::optional<bool> stored = defaults.boolean(kOrientationKey);
    isPortrait_ = stored.value_or(false);
    placeStrips();
    refreshNow();
}

ConsoleWindow::~ConsoleWindow() { guard_.end(); }

void ConsoleWindow::setPortrait(bool portrait) {
    isPortrait_ = portrait;
    defaults_.set(kOrientationKey, portrait);
    placeStrips();
}

void ConsoleWindow::placeStrips() {
    for (ConsoleStrip* strip : strips_) grid_->removeWidget(strip);
    const int columns = isPortrait_ ? 4 : static_cast<int>(strips_.size());
    for (size_t i = 0; i < strips_.size(); ++i) {
        grid_->addWidget(strips_[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    }
    orientation_->setText(isPortrait_ ? "Switch to one row" : "Switch to the phone's 4+4 grid");
}

void ConsoleWindow::showEvent(QShowEvent* event) {
    token_ = engine_.addObserver([this] { scheduleRefresh(); });
    refreshNow();
    QWidget::showEvent(event);
}

void ConsoleWindow::hideEvent(QHideEvent* event) {
    token_.reset();
    QWidget::hideEvent(event);
}

void ConsoleWindow::scheduleRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    mainQueue_.post(guard_.wrap([this] {
        refreshPending_ = false;
        refreshNow();
    }));
}

void ConsoleWindow::refreshNow() {
    for (ConsoleStrip* strip : strips_) strip->refresh();
    record_->refresh();
    rebuildScenes();
}

void ConsoleWindow::rebuildScenes() {
    std::vector<std::string> names;
    for (const MixSnapshot& scene : engine_.snapshots()) names.push_back(scene.id.uuidString() + scene.name);
    if (names == builtScenes_) return;
    builtScenes_ = names;
    while (QLayoutItem* item = scenesLayout_->takeAt(0)) {
        if (item->widget()) item->widget()->deleteLater();
        delete item;
    }
    for (const MixSnapshot& scene : engine_.snapshots()) {
        auto* row = new QWidget(scenes_);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* recall = new QPushButton(QString::fromStdString(scene.name), row);
        recall->setObjectName("recall");
        recall->setToolTip("Recall this scene");
        const UUID id = scene.id;
        connect(recall, &QPushButton::clicked, this, [this, id] {
            for (const MixSnapshot& s : engine_.snapshots()) {
                if (s.id == id) return engine_.applyScene(MixSnapshot(s));
            }
        });
        layout->addWidget(recall, 1);
        auto* remove = new QPushButton("Delete Scene", row);
        connect(remove, &QPushButton::clicked, this, [this, id] {
            engine_.deleteScene(id);
            scheduleRefresh();
        });
        layout->addWidget(remove);
        scenesLayout_->addWidget(row);
    }
}

std::vector<QPushButton*> ConsoleWindow::sceneButtons() const {
    std::vector<QPushButton*> buttons;
    for (int i = 0; i < scenesLayout_->count(); ++i) {
        if (QWidget* row = scenesLayout_->itemAt(i)->widget()) {
            if (auto* recall = row->findChild<QPushButton*>("recall")) buttons.push_back(recall);
        }
    }
    return buttons;
}

} // namespace orevant
