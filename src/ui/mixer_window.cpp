#include "ui/mixer_window.h"

#include "app/permission_window.h"
#include "app/update_controller.h"
#include "audio/audio_device_monitor.h"
#include "audio/audio_process_monitor.h"
#include "audio/bluetooth_audio_monitor.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "engine/control_target.h"
#include "engine/mixer_engine.h"
#include "midi/midi_mapping_manager.h"
#include "platform/main_queue.h"
#include "ui/app_row.h"
#include "ui/bus_section.h"
#include "ui/companion_panel.h"
#include "ui/device_row.h"
#include "ui/learn_menu.h"
#include "ui/level_slider.h"
#include "ui/symbols.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace orevant {

namespace {

QPushButton* tabButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setCheckable(true);
    button->setFlat(true);
    return button;
}

bool listsForOutput(const AudioApp& app) { return app.isPlaying; }

} // namespace

MixerWindow::MixerWindow(MixerEngine& engine, MainQueue& mainQueue, UpdateController* updater, QWidget* parent)
    : QWidget(parent), engine_(engine), mainQueue_(mainQueue), updater_(updater) {
    setWindowTitle("OREVANT");
    setWindowIcon(QIcon::fromTheme("orevant", Symbols::icon("slider.vertical.3")));
    resize(380, 640);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    auto* top = new QHBoxLayout;
    localTab_ = tabButton("Local Mixer", this);
    phoneTab_ = tabButton("Phone", this);
    auto* tabs = new QButtonGroup(this);
    tabs->addButton(localTab_);
    tabs->addButton(phoneTab_);
    localTab_->setChecked(true);
    connect(localTab_, &QPushButton::clicked, this, [this] { setActiveTab("volume"); });
    connect(phoneTab_, &QPushButton::clicked, this, [this] { setActiveTab("phone"); });
    top->addWidget(localTab_);
    top->addWidget(phoneTab_);
    top->addStretch(1);
    auto* console = new QToolButton(this);
    console->setIcon(Symbols::icon("slider.vertical.3"));
    console->setToolTip("Open the console window");
    connect(console, &QToolButton::clicked, this, [this] {
        if (onOpenConsole) onOpenConsole();
    });
    top->addWidget(console);
    layout->addLayout(top);

    directionBar_ = new QWidget(this);
    auto* direction = new QHBoxLayout(directionBar_);
    direction->setContentsMargins(0, 0, 0, 0);
    outputSwitch_ = tabButton("Output", directionBar_);
    inputSwitch_ = tabButton("Microphone", directionBar_);
    auto* sides = new QButtonGroup(this);
    sides->addButton(outputSwitch_);
    sides->addButton(inputSwitch_);
    outputSwitch_->setChecked(true);
    connect(outputSwitch_, &QPushButton::clicked, this, [this] { setDirection(AudioDirection::output); });
    connect(inputSwitch_, &QPushButton::clicked, this, [this] { setDirection(AudioDirection::input); });
    direction->addWidget(outputSwitch_);
    direction->addWidget(inputSwitch_);
    layout->addWidget(directionBar_);

    pages_ = new QStackedWidget(this);
    scroll_ = new QScrollArea(pages_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    companion_ = new CompanionPanel(engine, pages_);
    pages_->addWidget(scroll_);
    pages_->addWidget(companion_);
    layout->addWidget(pages_, 1);
    rebuild();
}

MixerWindow::~MixerWindow() {
    recheck_.cancel();
    guard_.end();
}

void MixerWindow::setDirection(AudioDirection direction) {
    direction_ = direction;
    (direction == AudioDirection::output ? outputSwitch_ : inputSwitch_)->setChecked(true);
    refreshNow();
}

void MixerWindow::setActiveTab(const std::string& tab) {
    activeTab_ = tab == "phone" ? "phone" : "volume";
    const bool phone = activeTab_ == "phone";
    (phone ? phoneTab_ : localTab_)->setChecked(true);
    directionBar_->setVisible(!phone);
    pages_->setCurrentIndex(phone ? 1 : 0);
    if (phone) companion_->refresh();
}

void MixerWindow::showEvent(QShowEvent* event) {
    listen();
    refreshNow();
    QWidget::showEvent(event);
}

void MixerWindow::hideEvent(QHideEvent* event) {
    // Closed, the window hears nothing: meter ticks and list changes cost it nothing.
    tokens_.clear();
    companion_->setRevealed(false);
    QWidget::hideEvent(event);
}

void MixerWindow::listen() {
    tokens_.clear();
    auto changed = [this] { scheduleRefresh(); };
    tokens_.push_back(engine_.addObserver(changed));
    tokens_.push_back(engine_.processMonitor().addObserver(changed));
    tokens_.push_back(engine_.deviceMonitor().addObserver(changed));
    tokens_.push_back(engine_.inputDeviceMonitor().addObserver(changed));
    tokens_.push_back(engine_.systemVolume().addObserver(changed));
    tokens_.push_back(engine_.inputVolume().addObserver(changed));
    tokens_.push_back(engine_.phonesBusVolume().addObserver(changed));
    tokens_.push_back(engine_.bluetooth().addObserver(changed));
}

void MixerWindow::scheduleRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    mainQueue_.post(guard_.wrap([this] {
        refreshPending_ = false;
        refreshNow();
    }));
}

void MixerWindow::refreshNow() {
    if (structureKey() == builtKey_) return updateValues();
    // A rebuild would delete the row being dragged, or the row whose menu is open (the menu runs
    // its own event loop, in which the engine goes on): the lists catch up once that is over.
    QWidget* popup = QApplication::activePopupWidget();
    if (dragUID_ || (popup && popup != this)) {
        updateValues();
        if (!recheck_.isValid() || recheck_.isCancelled()) {
            recheck_ = mainQueue_.postAfter(kRecheckSeconds, guard_.wrap([this] {
                recheck_ = TaskHandle();
                refreshNow();
            }));
        }
        return;
    }
    recheck_.cancel();
    rebuild();
}

std::string MixerWindow::structureKey() const {
    std::string key = std::to_string(static_cast<int>(direction_)) + (engine_.isStarted() ? "S" : "-") +
                      (engine_.needsAudioCapturePermission() ? "P" : "-") + (engine_.isPaired() ? "M" : "-") +
                      (engine_.isWritingTotalMixRouting() ? "T" : "-");
    if (updater_) key += "|" + updater_->stagedVersion().value_or("") + "|" + updater_->availableVersion().value_or("");
    for (const AudioApp& app : engine_.processMonitor().apps()) {
        key += "|a" + app.bundleID + (app.isPlaying ? "+" : "-") + (app.isRecording ? "r" : "-");
        for (const std::string& uid : engine_.outputDeviceUIDs(app)) key += "," + uid;
    }
    for (const auto* monitor : {&engine_.deviceMonitor(), &engine_.inputDeviceMonitor()}) {
        key += "|d" + std::to_string(monitor->defaultDeviceID());
        for (const AudioDevice& device : monitor->devices()) key += "," + device.uid + ":" + device.name;
    }
    for (const BluetoothAudioDevice& device : engine_.bluetooth().paired()) {
        key += "|b" + device.id + (device.isConnected ? "+" : "-") +
               (engine_.bluetooth().busy().count(device.id) ? "*" : "");
    }
    if (auto device = engine_.currentOutputDevice()) {
        if (auto pairing = engine_.busPairings().find(device->uid); pairing != engine_.busPairings().end()) {
            key += "|p" + std::to_string(pairing->second.mainOffset) + std::to_string(pairing->second.phonesOffset);
        }
    }
    key += engine_.systemVolume().canSetVolume() ? "|v" : "|-";
    key += engine_.inputVolume().canSetVolume() ? "v" : "-";
    return key;
}

QLabel* MixerWindow::addHeading(QWidget* content, const QString& text) {
    auto* heading = new QLabel(text, content);
    heading->setTextFormat(Qt::PlainText); // may hold a device's name
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.9);
    heading->setFont(font);
    heading->setStyleSheet("color: palette(mid); margin-top: 6px;");
    content->layout()->addWidget(heading);
    return heading;
}

void MixerWindow::addEmptyState(QWidget* content, const char* symbol, const char* text) {
    auto* row = new QWidget(content);
    auto* layout = new QHBoxLayout(row);
    auto* icon = new QLabel(row);
    icon->setPixmap(Symbols::icon(symbol).pixmap(20, 20));
    layout->addWidget(icon);
    stateLabel_ = new QLabel(text, row);
    layout->addWidget(stateLabel_, 1);
    content->layout()->addWidget(row);
}

void MixerWindow::rebuild() {
    builtKey_ = structureKey();
    appRows_.clear();
    deviceRows_.clear();
    busSection_ = nullptr;
    stateLabel_ = nullptr;
    bannerLabel_ = nullptr;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    buildBanners(content);
    if (!engine_.isStarted()) {
        addEmptyState(content, "waveform.slash", kWaiting);
    } else if (direction_ == AudioDirection::output) {
        buildOutputSide(content);
    } else {
        buildInputSide(content);
    }
    layout->addStretch(1);
    scroll_->setWidget(content); // deletes the previous content
    updateValues();
}

void MixerWindow::buildBanners(QWidget* content) {
    if (PermissionWindow::isBannerVisible(engine_.needsAudioCapturePermission())) {
        auto* banner = new QWidget(content);
        banner->setAttribute(Qt::WA_StyledBackground);
        banner->setStyleSheet("background: #fff3cd; color: #5c4400; border-radius: 4px;");
        auto* layout = new QHBoxLayout(banner);
        auto* icon = new QLabel(banner);
        icon->setPixmap(Symbols::icon(PermissionWindow::kBannerSymbol).pixmap(20, 20));
        layout->addWidget(icon);
        bannerLabel_ = new QLabel(
            QString("<b>%1</b><br>%2").arg(PermissionWindow::kBannerTitle, PermissionWindow::kBannerLine), banner);
        bannerLabel_->setWordWrap(true);
        layout->addWidget(bannerLabel_, 1);
        auto* open = new QPushButton(PermissionWindow::kBannerButton, banner);
        connect(open, &QPushButton::clicked, this, [this] {
            if (onShowPermissionHelp) onShowPermissionHelp();
        });
        layout->addWidget(open);
        content->layout()->addWidget(banner);
    }
    if (updater_ && (updater_->stagedVersion() || updater_->availableVersion())) {
        const bool staged = updater_->stagedVersion().has_value();
        auto* banner = new QWidget(content);
        auto* layout = new QHBoxLayout(banner);
        const std::string text = staged ? *updater_->stagedVersion() + " is ready to install"
                                        : *updater_->availableVersion() + " is available";
        layout->addWidget(new QLabel(QString::fromStdString(text), banner), 1);
        auto* button = new QPushButton(staged ? "Restart" : "Update", banner);
        if (!staged) button->setIcon(Symbols::icon("arrow.down.circle.fill"));
        connect(button, &QPushButton::clicked, this, [this] { updater_->checkForUpdates(); });
        layout->addWidget(button);
        content->layout()->addWidget(banner);
    }
}

void MixerWindow::buildOutputSide(QWidget* content) {
    SystemVolumeController& system = engine_.systemVolume();
    addHeading(content, QString::fromStdString("Output — " + system.deviceName()));
    if (system.canSetVolume()) {
        auto* slider = new LevelSlider(content);
        slider->setObjectName("systemOutput");
        LearnMenu::attach(slider, engine_.midiMapping(), std::string(ControlTarget::kSystemOutput), {});
        slider->onChange = [this](float v) { engine_.systemVolume().setVolume(v); };
        slider->onSymbolTap = [this] {
            if (engine_.systemVolume().canMute()) engine_.systemVolume().toggleMute();
        };
        content->layout()->addWidget(slider);
    } else {
        content->layout()->addWidget(new QLabel(BusSection::kDeviceControlled, content));
    }
    busSection_ = new BusSection(engine_, content);
    content->layout()->addWidget(busSection_);

    addHeading(content, "Devices");
    addDeviceRows(content, AudioDirection::output);

    const auto& paired = engine_.bluetooth().paired();
    if (!paired.empty()) {
        addHeading(content, "Bluetooth");
        for (const BluetoothAudioDevice& device : paired) {
            auto* row = new QWidget(content);
            auto* layout = new QHBoxLayout(row);
            layout->setContentsMargins(6, 0, 6, 0);
            auto* icon = new QLabel(row);
            icon->setPixmap(Symbols::icon("headphones").pixmap(18, 18));
            layout->addWidget(icon);
            auto* name = new QLabel(QString::fromStdString(device.name), row);
            name->setTextFormat(Qt::PlainText);
            layout->addWidget(name, 1);
            auto* button = new QPushButton(device.isConnected ? "Disconnect" : "Connect", row);
            button->setEnabled(!engine_.bluetooth().busy().count(device.id));
            connect(button, &QPushButton::clicked, this, [this, device] {
                if (device.isConnected) {
                    engine_.bluetooth().disconnect(device);
                } else {
                    engine_.connectBluetooth(device);
                }
            });
            layout->addWidget(button);
            content->layout()->addWidget(row);
        }
    }

    addHeading(content, "Apps");
    bool any = false;
    for (const AudioApp& app : engine_.processMonitor().apps()) {
        if (!listsForOutput(app)) continue;
        any = true;
        auto* row = new AppRow(engine_, app, content);
        row->onLearnChanged = [this] { scheduleRefresh(); };
        appRows_.push_back(row);
        content->layout()->addWidget(row);
    }
    if (!any) addEmptyState(content, "waveform.slash", kNothingPlaying);
}

void MixerWindow::buildInputSide(QWidget* content) {
    SystemVolumeController& input = engine_.inputVolume();
    addHeading(content, QString::fromStdString("Microphone — " + input.deviceName()));
    if (input.canSetVolume()) {
        auto* slider = new LevelSlider(content);
        slider->setObjectName("systemInput");
        LearnMenu::attach(slider, engine_.midiMapping(), std::string(ControlTarget::kSystemInput), {});
        slider->onChange = [this](float v) { engine_.inputVolume().setVolume(v); };
        content->layout()->addWidget(slider);
    } else {
        content->layout()->addWidget(new QLabel("Gain is controlled on the device", content));
    }
    addHeading(content, "Devices");
    addDeviceRows(content, AudioDirection::input);
    addHeading(content, "Apps");
    bool any = false;
    for (const AudioApp& app : engine_.processMonitor().apps()) {
        if (!app.isRecording) continue;
        any = true;
        auto* row = new QWidget(content);
        auto* layout = new QHBoxLayout(row);
        auto* icon = new QLabel(row);
        icon->setPixmap(Symbols::icon("mic.fill").pixmap(18, 18));
        layout->addWidget(icon);
        auto* name = new QLabel(QString::fromStdString(app.name), row);
        name->setTextFormat(Qt::PlainText);
        layout->addWidget(name, 1);
        content->layout()->addWidget(row);
    }
    if (!any) addEmptyState(content, "mic.slash", kNothingRecording);
}

void MixerWindow::addDeviceRows(QWidget* content, AudioDirection direction) {
    const AudioDeviceMonitor& monitor =
        direction == AudioDirection::output ? engine_.deviceMonitor() : engine_.inputDeviceMonitor();
    for (const AudioDevice& device : monitor.devices()) {
        auto* row = new DeviceRow(device, device.id == monitor.defaultDeviceID(), content);
        row->onPress = [this](const std::string& uid, QPoint at) { devicePressed(uid, at); };
        row->onMove = [this](QPoint at) { deviceMoved(at); };
        row->onRelease = [this](QPoint at) { deviceReleased(at); };
        deviceRows_.push_back(row);
        content->layout()->addWidget(row);
    }
}

void MixerWindow::updateValues() {
    for (AppRow* row : appRows_) row->refresh();
    if (busSection_) busSection_->refresh();
    if (auto* slider = scroll_->widget() ? scroll_->widget()->findChild<LevelSlider*>("systemOutput") : nullptr) {
        const SystemVolumeController& system = engine_.systemVolume();
        slider->setValue(system.volume());
        slider->setSymbol(AppRow::speakerSymbol(system.volume(), system.isMuted()));
    }
    if (auto* slider = scroll_->widget() ? scroll_->widget()->findChild<LevelSlider*>("systemInput") : nullptr) {
        slider->setValue(engine_.inputVolume().volume());
        slider->setSymbol(engine_.inputVolume().isMuted() ? "mic.slash" : "mic.fill");
    }
}

QRect MixerWindow::inWindow(const QWidget* widget) const {
    return QRect(widget->mapTo(window(), QPoint(0, 0)), widget->size());
}

void MixerWindow::devicePressed(const std::string& uid, QPoint at) {
    dragUID_ = uid;
    pressAt_ = at;
    dragMoved_ = false;
    busZones_.clear();
    appRouteZones_.clear();
    if (busSection_) {
        for (OutputBus bus : {OutputBus::main, OutputBus::phones}) busZones_[bus] = inWindow(busSection_->zone(bus));
    }
    for (AppRow* row : appRows_) appRouteZones_[row->bundleID()] = inWindow(row);
}

void MixerWindow::deviceMoved(QPoint at) {
    if (!dragUID_) return;
    if ((at - pressAt_).manhattanLength() >= QApplication::startDragDistance()) dragMoved_ = true;
    if (!dragMoved_) return;
    busTarget_.reset();
    routeTargetBundleID_.reset();
    if (direction_ == AudioDirection::output) {
        for (const auto& [bus, zone] : busZones_) {
            if (zone.contains(at)) busTarget_ = bus;
        }
        for (const auto& [bundleID, zone] : appRouteZones_) {
            if (zone.contains(at)) routeTargetBundleID_ = bundleID;
        }
    }
    showDropTargets();
}

void MixerWindow::showDropTargets() {
    if (busSection_) busSection_->setTarget(busTarget_);
    for (AppRow* row : appRows_) {
        row->setStyleSheet(routeTargetBundleID_ == row->bundleID() ? "background: palette(highlight);" : "");
    }
    for (DeviceRow* row : deviceRows_) row->setHighlighted(dragMoved_ && dragUID_ == row->uid());
}

void MixerWindow::deviceReleased(QPoint at) {
    if (!dragUID_) return;
    deviceMoved(at);
    const std::string uid = *dragUID_;
    const bool moved = dragMoved_;
    const std::optional<OutputBus> bus = busTarget_;
    const std::optional<std::string> routeTo = routeTargetBundleID_;
    dragUID_.reset();
    dragMoved_ = false;
    busTarget_.reset();
    routeTargetBundleID_.reset();
    showDropTargets();

    AudioDeviceMonitor& monitor =
        direction_ == AudioDirection::output ? engine_.deviceMonitor() : engine_.inputDeviceMonitor();
    const AudioDevice* found = monitor.device(uid);
    if (!found) return scheduleRefresh();
    const AudioDevice device = *found;
    if (!moved) {
        monitor.setDefault(device);
    } else if (routeTo) {
        for (const AudioApp& app : engine_.processMonitor().apps()) {
            if (app.bundleID == *routeTo) engine_.addOutput(device, app);
        }
    } else if (bus == OutputBus::main) {
        monitor.setDefault(device);
    } else if (bus == OutputBus::phones) {
        // The PHONES zone takes no device: PHONES is a pair of the MAIN device.
    } else {
        // Reordered: the rows in the order they now stand, the dragged one where it was let go.
        std::vector<std::pair<int, std::string>> order;
        for (DeviceRow* row : deviceRows_) {
            const QRect zone = inWindow(row);
            order.emplace_back(row->uid() == uid ? at.y() : zone.center().y(), row->uid());
        }
        std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> visible;
        for (const auto& entry : order) visible.push_back(entry.second);
        monitor.reorder(visible, uid);
    }
    scheduleRefresh();
}

AppRow* MixerWindow::appRow(const std::string& bundleID) const {
    for (AppRow* row : appRows_) {
        if (row->bundleID() == bundleID) return row;
    }
    return nullptr;
}

DeviceRow* MixerWindow::deviceRow(const std::string& uid) const {
    for (DeviceRow* row : deviceRows_) {
        if (row->uid() == uid) return row;
    }
    return nullptr;
}

QString MixerWindow::stateText() const { return stateLabel_ ? stateLabel_->text() : QString(); }
QString MixerWindow::bannerText() const { return bannerLabel_ ? bannerLabel_->text() : QString(); }

} // namespace orevant
