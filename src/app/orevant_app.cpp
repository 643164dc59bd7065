#include "app/orevant_app.h"

#include "app/update_controller.h"
#include "audio/device_reader.h"
#include "audio/hal_error.h"
#include "engine/mixer_engine.h"
#include "engine/recording_indicator.h"
#include "platform/main_queue.h"

namespace orevant {

OREVANTApp::OREVANTApp(Services services, Shell shell) : services_(std::move(services)), shell_(std::move(shell)) {}

OREVANTApp::~OREVANTApp() {
    guard_.end();
    waitForWakeUpRead();
    permissionWindow_.reset();
    if (recordingIndicator_) recordingIndicator_->detach();
    statusMenu_.reset();
    updater_.reset();
    engine_.reset();
}

void OREVANTApp::launch() {
    if (engine_) return;
    recordingIndicator_ = std::make_unique<RecordingIndicator>(services_.mainQueue);
    engine_ = std::make_unique<MixerEngine>(services_);
    updater_ = UpdateController::create(services_.mainQueue, services_.audioServer, services_.defaults,
                                        shell_.activation, shell_.updater);
    MixerEngine* engine = engine_.get();
    statusMenu_ = std::make_unique<StatusItemMenuController>(
        updater_, shell_.loginItem, shell_.appInfo, SystemInfo::current(), shell_.menuHooks,
        [engine, alive = guard_.watch()]() -> MixerEngine* { return alive.expired() ? nullptr : engine; });

    MixerEngine::setCurrent(engine);
    statusMenu_->installMonitor();
    recordingIndicator_->attach(*engine);

    PermissionWindow::Flag needsPermission{
        [engine] { return engine->needsAudioCapturePermission(); },
        [engine](ObserverList::Observer observer) { return engine->addObserver(std::move(observer)); },
    };
    permissionWindow_ =
        std::make_unique<PermissionWindow>(services_.mainQueue, std::move(needsPermission), shell_.permissionPresenter);

    appDelegate_.applicationDidFinishLaunching();

    AudioServer& server = services_.audioServer;
    MainQueue& mainQueue = services_.mainQueue;
    auto startEngine = guard_.wrap([engine, onStarted = shell_.onStarted] {
        engine->start();
        if (onStarted) onStarted();
    });
    wakeUp_ = std::thread([&server, &mainQueue, startEngine] {
        try {
            (void)DeviceReader(server).defaultDevice(AudioDirection::output);
        } catch (const HALError&) {
            // Only a wake-up call: the engine reads the device itself and handles failures.
        }
        mainQueue.post(startEngine);
    });
}

void OREVANTApp::waitForWakeUpRead() {
    if (wakeUp_.joinable()) wakeUp_.join();
}

void OREVANTApp::terminate() { appDelegate_.applicationWillTerminate(); }

} // namespace orevant
