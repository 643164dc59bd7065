#include "app/headless_agent.h"

#include "app/agent_control_socket.h"
#include "app/agent_front_end.h"
#include "app/app_activation_state.h"
#include "app/builtin_scenario.h"
#include "app/latency_probe.h"
#include "app/live_view.h"
#include "app/orevant_app.h"
#include "app/signal_watcher.h"
#include "audio/audio_device_monitor.h"
#include "audio/device_reader.h"
#include "audio/hal_error.h"
#include "audio/process_reader.h"
#include "engine/mixer_engine.h"
#include "platform/file_defaults_store.h"
#include "platform/host_clock.h"
#include "platform/linux/alsa_midi_system.h"
#include "platform/linux/autostart_entry.h"
#include "platform/linux/avahi_service_advertiser.h"
#include "platform/linux/bluez_bluetooth.h"
#include "platform/linux/dbus_connection.h"
#include "platform/linux/journald_log_sink.h"
#include "platform/linux/linux_updater.h"
#include "platform/linux/linux_workspace.h"
#include "platform/linux/relaunch.h"
#include "platform/linux/single_instance_lock.h"
#include "platform/logger.h"
#include "platform/pipewire/pipewire_audio_server.h"
#include "platform/run_loop_main_queue.h"
#include "platform/service_advertiser.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "platform/sim/sim_bluetooth.h"
#include "platform/sim/sim_midi_system.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/sim_workspace.h"
#include "platform/stderr_log_sink.h"
#include "platform/thread_task_queue.h"
#include "recording/mix_recorder.h"
#include "recording/recording_folder.h"
#include "remote/osc_listener.h"
#include "remote/pairing_pin.h"
#include "remote/web/web_server.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <ifaddrs.h>
#include <iostream>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orevant {

namespace {

constexpr double kLiveViewInterval = 0.25;
constexpr double kConnectSeconds = 2.0;

// The live view shows each device's peak over its last 0.1 s; the simulated server keeps no more.
constexpr double kLiveViewSeconds = 0.1;

// Without a window the prompt goes to the terminal, once, as the window would be shown once.
class TerminalPermissionPresenter final : public PermissionWindow::Presenter {
public:
    void show() override {
        std::fprintf(stderr, "\n%s\n\n%s\n\n%s\n\n", PermissionWindow::kHeading, PermissionWindow::kBody,
                     PermissionWindow::kInstruction);
    }
    void close() override {}
};

int terminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 100;
}

// The update feed, the release key and the install command are build settings.
LinuxUpdater::Settings updaterSettings() {
    LinuxUpdater::Settings settings;
    settings.feedURL = OREVANT_UPDATE_FEED_URL;
    settings.releaseKey = LinuxUpdater::parseKey(OREVANT_UPDATE_KEY);
    settings.installCommand = LinuxUpdater::splitCommand(OREVANT_UPDATE_INSTALL_COMMAND);
    return settings;
}

} // namespace

std::string HeadlessAgent::webCompanionLine(uint16_t port, const std::vector<std::string>& addresses) {
    std::string line = "Web companion: open";
    if (addresses.empty()) line += " http://<host>:" + std::to_string(port) + "/";
    for (size_t i = 0; i < addresses.size(); ++i)
        line += (i ? ", " : " ") + ("http://" + addresses[i] + ":" + std::to_string(port) + "/");
    return line + " in a browser on the same network, with the same PIN";
}

std::string HeadlessAgent::companionLine(uint16_t port, const std::vector<std::string>& addresses,
                                         const std::string& pin, bool busy) {
    if (busy) {
        return "Companion: UDP port " + std::to_string(port) +
               " is in use by another program; OREVANT tries it every 5 seconds and says when it listens, PIN " + pin;
    }
    std::string line = "Companion: send OSC to UDP port " + std::to_string(port) + " of this computer";
    if (!addresses.empty()) {
        line += " (";
        for (size_t i = 0; i < addresses.size(); ++i) line += (i ? ", " : "") + addresses[i];
        line += ")";
    }
    return line + ", PIN " + pin;
}

std::vector<std::string> HeadlessAgent::localAddresses() {
    std::vector<std::string> outside, loopback;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(a->ifa_flags & IFF_UP)) continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        ((a->ifa_flags & IFF_LOOPBACK) ? loopback : outside).push_back(text);
    }
    ::freeifaddrs(list);
    outside.insert(outside.end(), loopback.begin(), loopback.end());
    return outside;
}

int HeadlessAgent::run(const CommandLineOptions& options, SignalWatcher& watcher, AgentFrontEnd* frontEnd) {
    const bool liveView = !frontEnd && !options.quiet && ::isatty(STDOUT_FILENO);
    // With the live view on the terminal, only errors are logged there.
    const LogLevel minimum = liveView && ::isatty(STDERR_FILENO) ? LogLevel::error : LogLevel::info;
    Logger::setSink(JournaldLogSink::forStderr(minimum));
    const Logger log("OREVANTApp");

    SimScenario scenario;
    std::vector<ScenarioMIDISource> midiSources;
    try {
        const std::string text =
            options.scenarioFile ? SimScenario::readFile(*options.scenarioFile) : BuiltinScenario::text();
        scenario = SimScenario::parse(text);
        midiSources = BuiltinScenario::midiSources(text);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orevant: %s: %s\n",
                     options.scenarioFile ? options.scenarioFile->c_str() : "built-in scenario", error.what());
        return 1;
    }

    RunLoopMainQueue runLoop;
    MainQueue& mainQueue = frontEnd ? frontEnd->mainQueue() : runLoop;
    auto stopMainQueue = [&] { frontEnd ? frontEnd->stop() : runLoop.stop(); };
    std::unique_ptr<PipeWireAudioServer> pipewire;
    if (options.backend != AudioBackendChoice::sim) {
        pipewire = std::make_unique<PipeWireAudioServer>(mainQueue, kConnectSeconds);
        if (!pipewire->isConnected()) {
            pipewire.reset();
            if (options.backend == AudioBackendChoice::pipewire) {
                std::fprintf(stderr, "orevant: no PipeWire server answered\n");
                return 1;
            }
            std::printf("No audio server was found; the applications shown are simulated.\n");
        }
    }
    if (pipewire && options.latencyTrace) {
        std::fprintf(stderr, "orevant: --latency-trace measures the simulated audio server; add --backend sim\n");
        return 1;
    }
    SimAudioServer sim(mainQueue);
    SimAudioSystem system(sim);
    SimWorkspace simWorkspace(scenario.agentBundleID);
    SimBluetooth simBluetooth(mainQueue);
    // On the real audio system, the paired devices are BlueZ's where it is on the bus.
    std::unique_ptr<Bluetooth> bluez;
    if (pipewire) {
        if (auto bus = DBusConnection::openSystem()) bluez = BlueZBluetooth::connect(std::move(bus));
    }
    Bluetooth& bluetooth = bluez ? *bluez : static_cast<Bluetooth&>(simBluetooth);
    SimMIDISystem simMIDI;
    AlsaMIDISystem alsaMIDI;
    AudioServer& server = pipewire ? static_cast<AudioServer&>(*pipewire) : sim;
    LinuxWorkspace linuxWorkspace(scenario.agentBundleID,
                                  [&server](int32_t pid) { return declaredApplicationID(server, pid); });
    Workspace& workspace = pipewire ? static_cast<Workspace&>(linuxWorkspace) : simWorkspace;
    MIDISystem& midi = pipewire ? static_cast<MIDISystem&>(alsaMIDI) : simMIDI;
    if (!pipewire) {
        for (const auto& source : midiSources) simMIDI.addSource(source.name, source.isHardware);
        scenario.apply(system, simWorkspace, simBluetooth, mainQueue);
    }

    FileDefaultsStore defaults(FileDefaultsStore::defaultPath());
    MonotonicHostClock hostClock;
    MixRecorder recorder(mainQueue, hostClock,
                         [](const std::string& label) { return std::make_unique<ThreadTaskQueue>(label); });
    // The companion is advertised through Avahi when its daemon answers; otherwise the log says
    // once that nothing is advertised.
    std::unique_ptr<ServiceAdvertiser> advertiser = AvahiServiceAdvertiser::create();
    if (!advertiser) advertiser = std::make_unique<NullServiceAdvertiser>();
    AppActivationState activation; // a headless agent is never frontmost
    AutostartEntry loginItem(AutostartEntry::defaultPath(), SingleInstanceLock::currentExecutablePath());
    std::unique_ptr<LatencyProbe> probe;
    if (options.latencyTrace) {
        probe = std::make_unique<LatencyProbe>(sim.audio(), *options.latencyTrace);
        if (!probe->isOpen()) {
            std::fprintf(stderr, "orevant: cannot write %s\n", options.latencyTrace->c_str());
            return 1;
        }
    }

    std::unique_ptr<OREVANTApp> app;
    bool relaunch = false;
    TaskHandle liveViewTimer;
    std::function<void()> drawLiveView;
    std::atomic<int> signals{0};
    auto quit = [&] {
        liveViewTimer.cancel();
        if (app) app->terminate();
        stopMainQueue();
    };

    // After an installed update the agent ends as on a quit (the engine left alone) and starts again.
    auto updater = std::make_shared<LinuxUpdater>(defaults, mainQueue, updaterSettings());
    updater->setRelaunch([&] {
        relaunch = true;
        quit();
    });

    const Services services{
        .mainQueue = mainQueue,
        .audioServer = server,
        .defaults = defaults,
        .workspace = workspace,
        .bluetooth = bluetooth,
        .hostClock = hostClock,
        .midiSystem = &midi,
        .advertiser = advertiser.get(),
        .webPort = options.webPort > 0 ? std::optional<uint16_t>(static_cast<uint16_t>(options.webPort)) : std::nullopt,
        .recorder = &recorder,
    };
    OREVANTApp::Shell shell{
        .activation = activation,
        .loginItem = loginItem,
        .updater = updater,
        .permissionPresenter =
            frontEnd ? frontEnd->permissionPresenter() : std::make_shared<TerminalPermissionPresenter>(),
        .appInfo = {OREVANT_VERSION, OREVANT_VERSION},
        .menuHooks = {},
        .onStarted = {},
    };
    shell.menuHooks.quit = quit;
    if (frontEnd) frontEnd->configure(shell, activation);

    shell.onStarted = [&] {
        MixerEngine& engine = app->engine();
        if (probe) probe->install(engine);
        if (pipewire) {
            std::printf("OREVANT %s running %s on PipeWire.\n", OREVANT_VERSION,
                        frontEnd ? "on the desktop" : "headless");
        } else {
            std::printf("OREVANT %s running %s on the simulated audio server (%s).\n", OREVANT_VERSION,
                        frontEnd ? "on the desktop" : "headless",
                        options.scenarioFile ? options.scenarioFile->c_str() : "built-in scenario");
        }
        const OSCListener& listener = engine.oscListener();
        const bool listening = listener.isListening();
        std::printf("%s\n", companionLine(listening ? listener.port() : listener.requestedPort(), localAddresses(),
                                          engine.pairingPIN().pin(), !listening)
                                .c_str());
        if (const WebServer* web = engine.webServer()) {
            std::printf("%s\n", webCompanionLine(web->port(), localAddresses()).c_str());
        } else if (options.webPort > 0) {
            std::printf("Web companion: TCP port %d is not available\n", options.webPort);
        }
        std::printf("Takes are written to %s\n", RecordingFolder(defaults).intendedFolder().c_str());
        std::printf("Press Ctrl-C to quit.\n");
        std::fflush(stdout);
        if (frontEnd) frontEnd->started(*app, defaults);
        if (!liveView) return;
        std::printf("\x1b[?25l\x1b[2J");
        drawLiveView = [&] {
            LiveViewModel model = LiveViewModel::from(app->engine());
            AudioObjectID defaultOutput = 0;
            try {
                defaultOutput = DeviceReader(server).defaultDevice(AudioDirection::output);
            } catch (const HALError&) {
                // No default device: no row is marked.
            }
            for (const AudioDevice& device : app->engine().deviceMonitor().devices()) {
                LiveViewModel::Device row{device.name, device.outputChannels, 0.0f, device.id == defaultOutput};
                const size_t frames = 4800; // the last 0.1 s at 48 kHz; all that is kept at lower rates
                // What a device plays can be read back only on the simulated server.
                for (int channel = 0; !pipewire && channel < device.outputChannels; ++channel) {
                    row.peak =
                        std::max(row.peak, sim.audio().outputPeak(device.id, static_cast<uint32_t>(channel), frames));
                }
                model.devices.push_back(row);
            }
            const std::string frame = LiveView::terminalFrame(LiveView::render(model, terminalWidth()));
            std::fwrite(frame.data(), 1, frame.size(), stdout);
            std::fflush(stdout);
            liveViewTimer = mainQueue.postAfter(kLiveViewInterval, [&] { drawLiveView(); });
        };
        drawLiveView();
    };

    watcher.setCallback([&](int signal) {
        // A second signal while the first is handled ends the process at once.
        if (signals.fetch_add(1) > 0) ::_exit(128 + signal);
        mainQueue.post(quit);
    });
    // The callback above refers to this function's state: a signal after it returns ends the
    // process as one during start-up does.
    struct RestoreCallback {
        SignalWatcher& watcher;
        ~RestoreCallback() {
            watcher.setCallback([](int signal) { ::_exit(128 + signal); });
        }
    } restoreCallback{watcher};

    app = std::make_unique<OREVANTApp>(services, std::move(shell));
    // Local commands: a new PIN, and on the simulated server what each device plays.
    AgentControlSocket control(mainQueue, AgentControlSocket::defaultPath(), [&](const std::string& command) {
        if (!app) return std::string();
        if (command == "reissue-pin") {
            app->engine().resetCompanionPairing();
            return "New PIN " + app->engine().pairingPIN().pin();
        }
        if (command == "device-levels" && !pipewire) {
            std::string lines;
            // One line per device: its name, then each output channel's peak over the last 0.1 s.
            for (const AudioDevice& device : app->engine().deviceMonitor().devices()) {
                lines += device.name;
                for (int channel = 0; channel < device.outputChannels; ++channel)
                    lines += strprintf("\t%.6f", static_cast<double>(sim.audio().outputPeak(
                                                     device.id, static_cast<uint32_t>(channel), 4800)));
                lines += "\n";
            }
            return lines;
        }
        return std::string();
    });
    if (!pipewire) {
        sim.audio().setOutputHistorySeconds(kLiveViewSeconds);
        sim.audio().startClock();
    }
    app->launch();
    log.notice(strprintf("OREVANT %s starting", OREVANT_VERSION));
    frontEnd ? frontEnd->run() : runLoop.run();

    if (liveView) std::printf("\x1b[?25h\n");
    if (frontEnd) frontEnd->finished();
    app.reset();
    probe.reset();
    sim.audio().stopClock();
    std::fflush(stdout);
    if (relaunch) {
        const std::string error = relaunchSelf();
        std::fprintf(stderr, "orevant: cannot relaunch after the update: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

} // namespace orevant
