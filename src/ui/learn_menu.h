#pragma once
// The MIDI learn entries of a control's menu: "Learn", "Re-learn" and "Clear" while idle, the
// "Learning" entry (which cancels) while this control is armed. Also the caption a learned
// control shows. GUI thread only.
#include <functional>
#include <optional>
#include <string>

class QMenu;
class QWidget;

namespace orevant {

class MIDIMappingManager;

namespace LearnMenu {

enum class Style {
    control, // "Learn <label> MIDI" ... "Clear <label> MIDI Mapping"
    record,  // "Learn REC MIDI", "Re-learn REC MIDI", "Clear REC MIDI"
};

// Adds the entries for `target`; `changed` runs after one of them acted.
void add(QMenu& menu, MIDIMappingManager& mapping, const std::string& target, const std::string& label,
         std::function<void()> changed, Style style = Style::control);

// Gives `widget` a context menu of the learn entries for `target`.
void attach(QWidget* widget, MIDIMappingManager& mapping, const std::string& target, std::function<void()> changed);

// "LEARN"-style caption: `armed` while the target is armed, "CC <n>" once mapped, else none.
std::optional<std::string> caption(const MIDIMappingManager& mapping, const std::string& target,
                                   const std::string& armed);

} // namespace LearnMenu

} // namespace orevant
