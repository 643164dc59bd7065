#pragma once
// The console's record button: "REC" (or "AUTO" while automatic recording is on), and while a
// take runs the time since it began as mm:ss, ticking on the main queue's clock. A click starts
// or stops recording; its menu learns MIDI for "transport:record", chooses the recording folder
// and shows the last take in the file manager. GUI thread (the main queue) only.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <QToolButton>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace orevant {

class DefaultsStore;
class MixerEngine;

class RecordButton final : public QToolButton {
public:
    static constexpr const char* kIdleHelp = "Record each playing app on its own track";
    static constexpr const char* kRecordingHelp = "Stop recording";

    // Shows `item` selected in the desktop's file manager (the freedesktop FileManager1 service),
    // or opens it where none answers. Returns at once.
    static void showItemInFileManager(const std::filesystem::path& item, QObject* context);

    // "mm:ss" for whole seconds.
    static std::string elapsedText(double seconds);

    RecordButton(MixerEngine& engine, MainQueue& mainQueue, DefaultsStore& defaults, QWidget* parent = nullptr);
    ~RecordButton() override;

    // Follows the engine's recording state.
    void refresh();
    // The menu as it would open now.
    void rebuildMenu();

    // The folder chooser (a dialog by default); none when cancelled.
    std::function<std::optional<std::filesystem::path>()> chooseFolder;
    // Opens a folder in the desktop's file manager.
    std::function<void(const std::filesystem::path&)> showInFiles;

private:
    void tick();

    MixerEngine& engine_;
    MainQueue& mainQueue_;
    DefaultsStore& defaults_;
    bool wasRecording_ = false;
    double startedAt_ = 0;
    TaskHandle timer_;
    LifetimeGuard guard_;
};

} // namespace orevant
