#include "app/orevant_app.h"

#include "app/update_controller.h"
#include "audio/hal.h"
#include "engine/mixer_engine.h"
#include "engine/osc_companion_bridge.h"
#include "engine/recording_indicator.h"
#include "platform/defaults_store.h"
#include "platform/main_queue.h"

namespace orevant {

OREVANTApp::OREVANTApp(Services services) : services_(std::move(services)) {}

OREVANTApp::~OREVANTApp() {
    alive_.reset();
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
    MixerEngine::Services engineServices{
        .mainQueue = services_.mainQueue,
        .audioServer = services_.audioServer,
        .defaults = services_.defaults,
        .workspace = services_.workspace,
        .bluetooth = services_.bluetooth,
        .hostClock = services_.hostClock,
        .midiSystem = services_.midiSystem,
        .advertiser = services_.advertiser,
        .oscPort = services_.oscPort,
        .recorder = services_.recorder,
        .blockingWait = services_.blockingWait,
    };
    engine_ = std::make_unique<MixerEngine>(engineServices);
    engine_->setCompanionBridge(std::make_unique<OSCCompanionBridge>(*engine_, services_.companionReplyPort));
    updater_ = UpdateController::create(services_.mainQueue, services_.audioServer, services_.defaults,
                                        services_.activation, services_.updater);
    MixerEngine* engine = engine_.get();
    std::weak_ptr<char> alive = alive_;
    statusMenu_ = std::make_unique<StatusItemMenuController>(
        updater_, services_.loginItem, services_.appInfo, SystemInfo::current(), services_.menuHooks,
        [engine, alive]() -> MixerEngine* { return alive.expired() ? nullptr : engine; });

    MixerEngine::setCurrent(engine);
    statusMenu_->installMonitor();
    recordingIndicator_->attach(*engine);

    PermissionWindow::Flag needsPermission{
        [engine] { return engine->needsAudioCapturePermission(); },
        [engine](ObserverList::Observer observer) { return engine->addObserver(std::move(observer)); },
    };
    permissionWindow_ = std::make_unique<PermissionWindow>(services_.mainQueue, std::move(needsPermission),
                                                           services_.permissionPresenter);

    appDelegate_.applicationDidFinishLaunching();

    AudioServer& server = services_.audioServer;
    MainQueue& mainQueue = services_.mainQueue;
    auto onStarted = services_.onStarted;
    wakeUp_ = std::thread([&server, &mainQueue, engine, alive, onStarted] {
        try {
            (void)HAL(server).read<uint32_t>(kAudioObjectSystemObject, sel::defaultOutputDevice);
        } catch (const HALError&) {
            // Only a wake-up call: the engine reads the device itself and handles failures.
        }
        mainQueue.post([engine, alive, onStarted] {
            if (alive.expired()) return;
            engine->start();
            if (onStarted) onStarted();
        });
    });
}

void OREVANTApp::waitForWakeUpRead() {
    if (wakeUp_.joinable()) wakeUp_.join();
}

void OREVANTApp::terminate() { appDelegate_.applicationWillTerminate(); }

} // namespace orevant
