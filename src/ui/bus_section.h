#pragma once
// The MAIN and PHONES rows of the mixer's output side: their sliders (MAIN: the default
// device's volume; PHONES: the PHONES bus level), the pair pickers of a multichannel interface
// or the hint that one is needed, and the TotalMix reset for an RME interface. The two rows are
// the drop zones for a dragged device row. GUI thread only.
#include "engine/output_bus.h"

#include <QWidget>
#include <map>

namespace orevant {

class LevelSlider;
class MixerEngine;

class BusSection final : public QWidget {
public:
    static constexpr const char* kMultichannelHint = "Needs a multichannel interface — MAIN and PHONES live on its "
                                                     "output pairs";
    static constexpr const char* kDeviceControlled = "Volume is controlled on the device";

    BusSection(MixerEngine& engine, QWidget* parent = nullptr);

    // The drop zone of each bus.
    QWidget* zone(OutputBus bus) const { return zones_.at(bus); }
    void setTarget(std::optional<OutputBus> bus);
    void refresh();

private:
    QWidget* busRow(OutputBus bus, QWidget* parent);

    MixerEngine& engine_;
    std::map<OutputBus, QWidget*> zones_;
    LevelSlider* mainSlider_ = nullptr;
    LevelSlider* phonesSlider_ = nullptr;
};

} // namespace orevant
