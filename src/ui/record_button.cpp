#include "ui/record_button.h"

#include "engine/control_target.h"
#include "engine/mixer_engine.h"
#include "recording/recording_folder.h"
#include "ui/learn_menu.h"
#include "ui/symbols.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>
#include <QUrl>
#include <cmath>
#include <cstdio>

namespace orevant {

void RecordButton::showItemInFileManager(const std::filesystem::path& item, QObject* context) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(item.string()));
    // The file manager's ShowItems selects the take; where no file manager answers on the
    // session bus, the desktop opens the take's folder instead.
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{url.toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 2000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [url](QDBusPendingCallWatcher* done) {
        if (done->isError()) QDesktopServices::openUrl(url);
        done->deleteLater();
    });
}

std::string RecordButton::elapsedText(double seconds) {
    const long total = std::isfinite(seconds) && seconds > 0 ? static_cast<long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld", total / 60, total % 60);
    return text;
}

RecordButton::RecordButton(MixerEngine& engine, MainQueue& mainQueue, DefaultsStore& defaults, QWidget* parent)
    : QToolButton(parent), engine_(engine), mainQueue_(mainQueue), defaults_(defaults) {
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIcon(Symbols::icon("record.circle"));
    setPopupMode(QToolButton::MenuButtonPopup);
    setMenu(new QMenu(this));
    setMinimumWidth(96);
    connect(menu(), &QMenu::aboutToShow, this, [this] { rebuildMenu(); });
    connect(this, &QToolButton::clicked, this, [this] {
        if (engine_.isRecording()) {
            engine_.stopRecording();
        } else {
            engine_.startRecording();
        }
        refresh();
    });
    chooseFolder = [this]() -> std::optional<std::filesystem::path> {
        const QString folder = QFileDialog::getExistingDirectory(this, "Choose Recording Folder");
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
    };
    showInFiles = [this](const std::filesystem::path& folder) { showItemInFileManager(folder, this); };
    refresh();
}

RecordButton::~RecordButton() {
    timer_.cancel();
    guard_.end();
}

void RecordButton::refresh() {
    const bool recording = engine_.isRecording();
    if (recording && !wasRecording_) {
        startedAt_ = mainQueue_.now();
        timer_.cancel();
        timer_ = mainQueue_.postAfter(1.0, guard_.wrap([this] { tick(); }));
    } else if (!recording) {
        timer_.cancel();
    }
    wasRecording_ = recording;
    const QString text = recording ? QString::fromStdString(elapsedText(mainQueue_.now() - startedAt_))
                                   : (engine_.isAutoRec() ? "AUTO" : "REC");
    if (this->text() != text) setText(text);
    setToolTip(recording ? kRecordingHelp : kIdleHelp);
    setStyleSheet(recording ? "color: #c0392b; font-weight: bold;" : "");
}

void RecordButton::tick() {
    if (!engine_.isRecording()) return refresh();
    refresh();
    // The next whole second of the take.
    const double elapsed = mainQueue_.now() - startedAt_;
    const double next = std::floor(elapsed + 1e-9) + 1.0 - elapsed;
    timer_ = mainQueue_.postAfter(next, guard_.wrap([this] { tick(); }));
}

void RecordButton::rebuildMenu() {
    QMenu& m = *menu();
    m.clear();
    LearnMenu::add(m, engine_.midiMapping(), std::string(ControlTarget::kRecord), "REC", {}, LearnMenu::Style::record);
    m.addSeparator();
    connect(m.addAction("Choose Recording Folder\u2026"), &QAction::triggered, this, [this] {
        if (!chooseFolder) return;
        if (auto folder = chooseFolder()) RecordingFolder(defaults_).saveBookmark(*folder);
    });
    QAction* show = m.addAction("Show Last Recording in Files");
    show->setEnabled(engine_.recordingURL().has_value());
    connect(show, &QAction::triggered, this, [this] {
        if (engine_.recordingURL() && showInFiles) showInFiles(*engine_.recordingURL());
    });
}

} // namespace orevant
