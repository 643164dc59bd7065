#pragma once
// The settings window ("OREVANT Settings"): where takes are saved, with a folder chooser, what a
// take holds, and the two automatic-recording numbers, stored under "autoRecSilence" and
// "autoRecTail". GUI thread only.
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

class QLabel;
class QSpinBox;

namespace orevant {

class DefaultsStore;
class MixerEngine;

class SettingsWindow final : public QWidget {
public:
    static constexpr const char* kSilenceKey = "autoRecSilence";
    static constexpr const char* kTailKey = "autoRecTail";
    static constexpr int kDefaultSilence = 10;
    static constexpr int kDefaultTail = 1;

    SettingsWindow(MixerEngine& engine, DefaultsStore& defaults, QWidget* parent = nullptr);

    void refresh();
    QSpinBox& silenceSeconds() const { return *silence_; }
    QSpinBox& tailSeconds() const { return *tail_; }

    // The folder chooser (a dialog by default); none when cancelled.
    std::function<std::optional<std::filesystem::path>()> chooseFolder;

protected:
    void showEvent(QShowEvent* event) override;

private:
    MixerEngine& engine_;
    DefaultsStore& defaults_;
    QLabel* folder_;
    QSpinBox* silence_;
    QSpinBox* tail_;
};

} // namespace orevant
