#include "app/status_item_menu_controller.h"

#include "app/update_controller.h"
#include "engine/mixer_engine.h"
#include "midi/midi_mapping_manager.h"
#include "platform/linux/autostart_entry.h"

#include <exception>
#include <sstream>

namespace orevant {

StatusItemMenuController::StatusItemMenuController(std::shared_ptr<UpdateController> updater, AutostartEntry& loginItem,
                                                   AppInfo app, SystemInfo system, Hooks hooks,
                                                   std::function<MixerEngine*()> engine)
    : updater_(std::move(updater)),
      loginItem_(loginItem),
      app_(std::move(app)),
      system_(std::move(system)),
      hooks_(std::move(hooks)),
      engine_(engine ? std::move(engine) : std::function<MixerEngine*()>(&MixerEngine::current)) {}

void StatusItemMenuController::installMonitor() { monitor_ = true; }

StatusItemMenuController::EventResult StatusItemMenuController::handleEvent(const MouseEvent& event) {
    if (!monitor_ || event.windowClassName != kStatusBarWindowClass) return EventResult::passOn;
    const bool wantsMenu =
        event.type == MouseEvent::Type::rightMouseDown || (event.modifierFlags & kControlModifierFlag) != 0;
    if (!wantsMenu) return EventResult::passOn;
    const auto items = buildMenu();
    if (hooks_.popUpMenu) hooks_.popUpMenu(items);
    return EventResult::swallowed;
}

std::string StatusItemMenuController::shortVersion() const { return app_.shortVersion.value_or("dev"); }

MixerEngine* StatusItemMenuController::engine() const { return engine_(); }

std::vector<StatusItemMenuController::MenuItem> StatusItemMenuController::buildMenu() const {
    std::vector<MenuItem> items;
    auto add = [&items](std::string title, Action action, bool enabled = true, bool checked = false,
                        std::string key = {}) {
        MenuItem item;
        item.title = std::move(title);
        item.action = action;
        item.isEnabled = enabled;
        item.isChecked = checked;
        item.keyEquivalent = std::move(key);
        items.push_back(std::move(item));
    };
    auto separator = [&items] {
        MenuItem item;
        item.isSeparator = true;
        item.isEnabled = false;
        items.push_back(std::move(item));
    };
    add("OREVANT " + shortVersion(), Action::none, false);
    separator();
    add("Launch at Login", Action::toggleLaunchAtLogin, true, loginItem_.isEnabled());
    separator();
    std::string updateTitle = "Check for Updates…";
    if (updater_->stagedVersion()) {
        updateTitle = "Restart to Update to " + *updater_->stagedVersion();
    } else if (updater_->availableVersion()) {
        updateTitle = "Update to " + *updater_->availableVersion();
    }
    add(updateTitle, Action::checkForUpdates);
    add("Update Automatically", Action::toggleAutoUpdate, true, updater_->automaticallyDownloadsUpdates());
    add("Settings…", Action::openSettings, true, false, ",");
    add("Support…", Action::openSupport);
    add("Copy Diagnostics", Action::copyDiagnostics);
    add("Licence Agreement…", Action::openEULA);
    separator();
    add("Quit OREVANT", Action::quit, true, false, "q");
    return items;
}

void StatusItemMenuController::perform(Action action) {
    switch (action) {
    case Action::none:
        break;
    case Action::toggleLaunchAtLogin:
        try {
            if (loginItem_.isEnabled()) {
                loginItem_.unregisterEntry();
            } else {
                loginItem_.registerEntry();
            }
        } catch (const std::exception&) {
            // The next menu shows the real state.
        }
        break;
    case Action::checkForUpdates:
        updater_->checkForUpdates();
        break;
    case Action::toggleAutoUpdate:
        updater_->setAutomaticallyDownloadsUpdates(!updater_->automaticallyDownloadsUpdates());
        break;
    case Action::openSettings:
        if (hooks_.postNotification) hooks_.postNotification(kShowSettingsNotification);
        break;
    case Action::openSupport:
        if (hooks_.openURL) hooks_.openURL(kSupportURL);
        break;
    case Action::openEULA:
        if (hooks_.openURL) hooks_.openURL(kEULAURL);
        break;
    case Action::copyDiagnostics:
        if (hooks_.copyToPasteboard) hooks_.copyToPasteboard(diagnosticsReport());
        break;
    case Action::quit:
        if (hooks_.quit) hooks_.quit();
        break;
    }
}

std::string StatusItemMenuController::diagnosticsReport() const {
    std::vector<std::string> lines;
    lines.push_back("OREVANT " + shortVersion() + " (" + app_.buildVersion + ")");
    lines.push_back(system_.operatingSystem);
    lines.push_back("Hardware " + system_.hardwareModel);
    if (MixerEngine* engine = this->engine()) {
        const auto device = engine->currentOutputDevice();
        lines.push_back("MAIN device: " + (device ? device->name : std::string("none")) + " — " +
                        std::to_string(device ? device->outputChannels : 0) + " ch");
        if (device) {
            std::string pairing = "Channel pairing: ";
            if (auto pair = engine->channelPairing(*device)) {
                pairing += "MAIN " + std::to_string(pair->mainOffset + 1) + "/" + std::to_string(pair->mainOffset + 2) +
                           ", PHONES " + std::to_string(pair->phonesOffset + 1) + "/" +
                           std::to_string(pair->phonesOffset + 2);
            } else {
                pairing += "none (PHONES unavailable)";
            }
            lines.push_back(pairing);
        }
        lines.push_back("Active taps: " + std::to_string(engine->taps().size()));
        lines.push_back(std::string("Recording: ") + (engine->isRecording() ? "yes" : "no") + " → " +
                        engine->recordingFolderDisplayPath());
        lines.push_back("MIDI mappings: " + std::to_string(engine->midiMapping().mappings().size()));
        lines.push_back(std::string("Phone paired: ") + (engine->iphoneEndpoint() ? "yes" : "no"));
    }
    std::string report;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) report += "\n";
        report += lines[i];
    }
    return report;
}

} // namespace orevant
