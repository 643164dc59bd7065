#include "ui/companion_panel.h"

#include "engine/mixer_engine.h"
#include "remote/pairing_pin.h"
#include "ui/symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace orevant {

CompanionPanel::CompanionPanel(MixerEngine& engine, QWidget* parent)
    : QWidget(parent), engine_(engine), pin_(new QLabel(this)), reveal_(new QPushButton(this)) {
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel("Phone", this);
    QFont big = heading->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    heading->setFont(big);
    layout->addWidget(heading);

    auto* row = new QHBoxLayout;
    QFont mono("DejaVu Sans Mono");
    mono.setPointSizeF(big.pointSizeF() * 1.2);
    pin_->setFont(mono);
    pin_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(pin_, 1);
    connect(reveal_, &QPushButton::clicked, this, [this] { setRevealed(!isRevealed_); });
    row->addWidget(reveal_);
    auto* reissue = new QToolButton(this);
    reissue->setIcon(Symbols::icon("arrow.clockwise"));
    reissue->setToolTip("Issue a new PIN and disconnect the current phone and every browser page");
    connect(reissue, &QToolButton::clicked, this, [this] {
        engine_.resetCompanionPairing();
        refresh();
    });
    row->addWidget(reissue);
    layout->addLayout(row);
    layout->addWidget(new QLabel("Enter this in the companion's settings.", this));
    layout->addStretch(1);
    refresh();
}

void CompanionPanel::setRevealed(bool revealed) {
    isRevealed_ = revealed;
    refresh();
}

void CompanionPanel::refresh() {
    pin_->setText(isRevealed_ ? QString::fromStdString(engine_.pairingPIN().pin()) : QString(kHiddenPIN));
    reveal_->setText(isRevealed_ ? "Hide" : "Show");
}

QString CompanionPanel::pinText() const { return pin_->text(); }

} // namespace orevant
