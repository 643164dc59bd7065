#include "ui/settings_window.h"

#include "engine/mixer_engine.h"
#include "platform/defaults_store.h"
#include "recording/recording_folder.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace orevant {

namespace {

// Stored values come from a file the user may have edited: kept within what the boxes offer.
int storedSeconds(const DefaultsStore& defaults, const char* key, int fallback, int maximum) {
    const std::optional<int64_t> stored = defaults.integer(key);
    return stored ? static_cast<int>(std::clamp<int64_t>(*stored, 0, maximum)) : fallback;
}

} // namespace

SettingsWindow::SettingsWindow(MixerEngine& engine, DefaultsStore& defaults, QWidget* parent)
    : QWidget(parent),
      engine_(engine),
      defaults_(defaults),
      folder_(new QLabel(this)),
      silence_(new QSpinBox(this)),
      tail_(new QSpinBox(this)) {
    setWindowTitle("OREVANT Settings");
    resize(420, 460);
    auto* layout = new QVBoxLayout(this);

    auto* heading = new QLabel("Takes are saved to", this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);
    auto* row = new QHBoxLayout;
    folder_->setWordWrap(true);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(folder_, 1);
    auto* choose = new QPushButton("Choose\u2026", this);
    row->addWidget(choose);
    layout->addLayout(row);
    auto* explanation = new QLabel("Each source is recorded on its own track: 32-bit float WAV, named for the take's "
                                   "time and the app it came from.",
                                   this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);

    auto* automatic = new QLabel("Automatic recording", this);
    automatic->setFont(bold);
    layout->addWidget(automatic);
    auto* form = new QFormLayout;
    silence_->setRange(1, 3600);
    silence_->setSuffix(" s");
    tail_->setRange(0, 600);
    tail_->setSuffix(" s");
    form->addRow("Stop after silence of", silence_);
    form->addRow("Keep recording after the sound stops for", tail_);
    layout->addLayout(form);
    layout->addStretch(1);

    chooseFolder = [this]() -> std::optional<std::filesystem::path> {
        const QString folder = QFileDialog::getExistingDirectory(this, "Choose Recording Folder");
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
    };
    connect(choose, &QPushButton::clicked, this, [this] {
        if (!chooseFolder) return;
        if (auto folder = chooseFolder()) RecordingFolder(defaults_).saveBookmark(*folder);
        refresh();
    });
    refresh();
    connect(silence_, &QSpinBox::valueChanged, this, [this](int v) { defaults_.set(kSilenceKey, v); });
    connect(tail_, &QSpinBox::valueChanged, this, [this](int v) { defaults_.set(kTailKey, v); });
}

void SettingsWindow::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void SettingsWindow::refresh() {
    folder_->setText(QString::fromStdString(engine_.recordingFolderDisplayPath()));
    const QSignalBlocker blockSilence(silence_);
    const QSignalBlocker blockTail(tail_);
    silence_->setValue(storedSeconds(defaults_, kSilenceKey, kDefaultSilence, silence_->maximum()));
    tail_->setValue(storedSeconds(defaults_, kTailKey, kDefaultTail, tail_->maximum()));
}

} // namespace orevant
