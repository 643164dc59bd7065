#include "ui/learn_menu.h"

#include "midi/midi_mapping_manager.h"

#include <QMenu>

namespace orevant::LearnMenu {

void add(QMenu& menu, MIDIMappingManager& mapping, const std::string& target, const std::string& label,
         std::function<void()> changed, Style style) {
    const std::string name = label.empty() ? " " : " " + label + " ";
    const bool armed = mapping.learningTarget() == target;
    const bool mapped = mapping.ccNumber(target).has_value();
    auto act = [&menu, changed](const std::string& title, std::function<void()> action) {
        QObject::connect(menu.addAction(QString::fromStdString(title)), &QAction::triggered, &menu, [action, changed] {
            action();
            if (changed) changed();
        });
    };
    MIDIMappingManager* store = &mapping;
    if (armed) {
        act(style == Style::record ? "Waiting for a MIDI button\u2026"
                                   : "Learning" + name + "MIDI... (move a control now)",
            [store] { store->setLearningTarget(std::nullopt); });
    } else {
        act((mapped ? "Re-learn" : "Learn") + name + "MIDI", [store, target] { store->setLearningTarget(target); });
    }
    if (mapped) {
        act(style == Style::record ? "Clear" + name + "MIDI" : "Clear" + name + "MIDI Mapping",
            [store, target] { store->removeMapping(target); });
    }
}

void attach(QWidget* widget, MIDIMappingManager& mapping, const std::string& target, std::function<void()> changed) {
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    MIDIMappingManager* store = &mapping;
    QObject::connect(widget, &QWidget::customContextMenuRequested, widget, [widget, store, target, changed](QPoint at) {
        QMenu menu(widget);
        add(menu, *store, target, "", changed);
        menu.exec(widget->mapToGlobal(at));
    });
}

std::optional<std::string> caption(const MIDIMappingManager& mapping, const std::string& target,
                                   const std::string& armed) {
    if (mapping.learningTarget() == target) return armed;
    if (auto cc = mapping.ccNumber(target)) return "CC " + std::to_string(*cc);
    return std::nullopt;
}

} // namespace orevant::LearnMenu
