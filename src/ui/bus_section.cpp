#include "ui/bus_section.h"

#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/channel_pairing_policy.h"
#include "engine/control_target.h"
#include "engine/mixer_engine.h"
#include "midi/midi_mapping_manager.h"
#include "remote/total_mix_osc.h"
#include "remote/total_mix_routing_writer.h"
#include "ui/app_row.h"
#include "ui/learn_menu.h"
#include "ui/level_slider.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orevant {

BusSection::BusSection(MixerEngine& engine, QWidget* parent) : QWidget(parent), engine_(engine) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(busRow(OutputBus::main, this));
    layout->addWidget(busRow(OutputBus::phones, this));

    const std::optional<AudioDevice> device = engine.currentOutputDevice();
    if (device && device->outputChannels >= 4) {
        const auto pairs = ChannelPairingPolicy::pairs(device->outputChannels);
        const auto stored = engine.busPairings().find(device->uid);
        const BusPairing pairing = stored == engine.busPairings().end() ? BusPairing{} : stored->second;
        auto* pickers = new QHBoxLayout;
        for (OutputBus bus : {OutputBus::main, OutputBus::phones}) {
            auto* picker = new QComboBox(this);
            const std::string name = bus == OutputBus::main ? "MAIN" : "PHONES";
            picker->setToolTip(QString::fromStdString("Which output pair carries " + name + " on this interface"));
            const int current = bus == OutputBus::main ? pairing.mainOffset : pairing.phonesOffset;
            for (const auto& pair : pairs) {
                picker->addItem(QString::fromStdString(name + " " + pair.label()), pair.offset);
                if (pair.offset == current) picker->setCurrentIndex(picker->count() - 1);
            }
            const std::string uid = device->uid;
            connect(picker, &QComboBox::activated, this, [this, picker, bus, uid, pairing](int) {
                const int offset = picker->currentData().toInt();
                engine_.setBusPairing(uid, bus == OutputBus::main ? offset : pairing.mainOffset,
                                      bus == OutputBus::phones ? offset : pairing.phonesOffset);
            });
            pickers->addWidget(picker);
        }
        layout->addLayout(pickers);
    } else {
        auto* hint = new QLabel(kMultichannelHint, this);
        hint->setWordWrap(true);
        hint->setStyleSheet("color: palette(mid)");
        layout->addWidget(hint);
    }
    if (device && TotalMixOSC::isTotalMixDevice(device->uid, device->name)) {
        auto* reset = new QPushButton("Reset TotalMix routing", this);
        reset->setToolTip(QString::fromStdString(
            "Writes TotalMix's default routing for OREVANT: MAIN playback to the monitors only, PHONES playback to "
            "the phones jack only. Enable OSC control in TotalMix first (Options → Settings → OSC, port " +
            std::to_string(TotalMixRoutingWriter::kDefaultPort) + ")."));
        reset->setEnabled(!engine.isWritingTotalMixRouting());
        connect(reset, &QPushButton::clicked, this, [this] { engine_.writeTotalMixDefaultRouting(); });
        layout->addWidget(reset);
    }
    refresh();
}

QWidget* BusSection::busRow(OutputBus bus, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 2, 6, 2);
    auto* name = new QLabel(bus == OutputBus::main ? "MAIN" : "PHONES", row);
    name->setMinimumWidth(60);
    layout->addWidget(name);
    VolumeControlling* control =
        bus == OutputBus::main ? static_cast<VolumeControlling*>(&engine_.systemVolume()) : engine_.phonesController();
    if (control && control->canSetVolume()) {
        auto* slider = new LevelSlider(row);
        slider->onChange = [this, bus](float v) {
            VolumeControlling* c = bus == OutputBus::main ? static_cast<VolumeControlling*>(&engine_.systemVolume())
                                                          : engine_.phonesController();
            if (c) c->setVolume(v);
        };
        slider->onSymbolTap = [this, bus] {
            VolumeControlling* c = bus == OutputBus::main ? static_cast<VolumeControlling*>(&engine_.systemVolume())
                                                          : engine_.phonesController();
            if (c && c->canMute()) c->toggleMute();
        };
        layout->addWidget(slider, 1);
        (bus == OutputBus::main ? mainSlider_ : phonesSlider_) = slider;
    } else {
        auto* text = new QLabel(control ? kDeviceControlled : "", row);
        text->setStyleSheet("color: palette(mid)");
        layout->addWidget(text, 1);
    }
    if (bus == OutputBus::main) row->setToolTip("Drop to make this the main output");
    LearnMenu::attach(row, engine_.midiMapping(),
                      std::string(bus == OutputBus::main ? ControlTarget::kMainBus : ControlTarget::kPhonesBus), {});
    zones_[bus] = row;
    return row;
}

void BusSection::setTarget(std::optional<OutputBus> bus) {
    for (auto& [zoneBus, row] : zones_) {
        row->setStyleSheet(bus == zoneBus ? "background: palette(highlight);" : "");
    }
}

void BusSection::refresh() {
    if (mainSlider_) {
        const SystemVolumeController& main = engine_.systemVolume();
        mainSlider_->setValue(main.volume());
        mainSlider_->setSymbol(AppRow::speakerSymbol(main.volume(), main.isMuted()));
    }
    if (VolumeControlling* phones = engine_.phonesController(); phones && phonesSlider_) {
        phonesSlider_->setValue(phones->volume());
        phonesSlider_->setSymbol(phones->isMuted() ? "speaker.slash.fill" : "headphones");
    }
}

} // namespace orevant
