#pragma once
// The central model: the applications' settings, which applications get a ProcessTap and with
// which outputs, the MAIN/PHONES buses and the cue, scenes and console slots, panic, meters,
// recording control, and the glue to every monitor, controller and remote control.
//
// The engine is a composition of owned parts, each with its own state: the settings
// (AppSettings), the taps (TapSet), the buses (CueBus), scenes and slots (SceneBook), recording
// (RecordingControl), the meter clock (MeterClock), the control targets (ControlRouter) and
// Bluetooth routing (BluetoothRouting), beside the monitors and controllers of the audio system.
// What the windows and the companion read is MixerEngineView; this class adds the operations,
// each of which runs its steps across the parts in order.
//
// Threads: the engine is confined to the main queue. Every method, callback and task below runs
// there, and its tasks do nothing once the engine is gone. The only data it shares with other
// threads are the tap parameters, which ProcessTap carries as relaxed atomics.
#include "audio/device_reader.h"
#include "engine/app_settings.h"
#include "engine/meter_clock.h"
#include "engine/mixer_engine_view.h"
#include "engine/recording_control.h"
#include "engine/scene_book.h"
#include "engine/services.h"
#include "platform/lifetime_guard.h"
#include "platform/logger.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class CompanionBridge;
class ControlRouter;
class WebCompanionBridge;
class WebServer;
struct TapLevels;

class MixerEngine final : public MixerEngineView {
public:
    using Services = orevant::Services;

    static constexpr double kSaveDelaySeconds = AppSettings::kSaveDelaySeconds;
    static constexpr double kMeterIntervalSeconds = MeterClock::kIntervalSeconds;
    static constexpr double kDefaultRecordingSampleRate = RecordingControl::kDefaultSampleRate;
    static constexpr size_t kSlotCount = SceneBook::kSlotCount;

    // Makes the owned parts; the companion bridge answers on services.companionReplyPort.
    // Nothing is loaded and no tap is made until start().
    explicit MixerEngine(Services services);
    ~MixerEngine();

    // ---- Life cycle ----
    // Called once by the application shell.
    void start();
    // Writes the settings still waiting for their deferred save, brings attenuated applications
    // back to unity, then releases every tap.
    void shutdown();
    // The process-wide current engine (registered by start(), held weakly); null when none.
    static MixerEngine* current();
    // Makes `engine` (or none) the current engine.
    static void setCurrent(MixerEngine* engine);
    // Replaces the companion bridge (tests: one that records what it is asked to send).
    void setCompanionBridge(std::unique_ptr<CompanionBridge> bridge);

    // ---- Application settings ----
    void setVolume(float value, const AudioApp& app);
    void toggleMute(const AudioApp& app);
    void setCueVolume(float value, const std::string& bundleID);
    void addOutput(const AudioDevice& device, const AudioApp& app);
    void removeOutput(const std::string& uid, const AudioApp& app);
    void clearOutputs(const AudioApp& app);
    void resetApp(const AudioApp& app);
    void connectBluetooth(const BluetoothAudioDevice& device);

    // ---- Buses and cue ----
    void setBusPairing(const std::string& uid, int mainOffset, int phonesOffset);
    void setCue(bool cued, const std::string& bundleID);
    // Writes the default MAIN/PHONES routing to a TotalMix mixer; nothing while a write runs or
    // while the default output device has no pairing.
    void writeTotalMixDefaultRouting();

    // ---- Scenes and console slots ----
    // Refused (and said once in the log) when it would be one scene past SceneBook::kMaxScenes.
    void saveScene(const std::string& name);
    void applyScene(const MixSnapshot& scene);
    void deleteScene(const UUID& id);
    void setSlot(int index, const std::string& target);

    // ---- Panic and recording ----
    void setPanicked(bool on);
    void startRecording();
    void stopRecording();
    // Stores the switch and writes it under "autoRec".
    void setIsAutoRec(bool on);

    // ---- Control targets ----
    void handleControl(const std::string& target, float value);
    void setValue(const std::string& target, float value);
    void resetCompanionPairing();
    // The web companion's server; null when it is off or its port could not be had.
    WebServer* webServer() const { return webServer_.get(); }

private:
    // The levels a tap of `setting` is given now.
    TapLevels tapLevels(const AppVolume& setting) const;
    void apply(const AppVolume& setting, const AudioApp& app);
    void storeOutputs(const AudioApp& app, std::vector<std::string> outputs);
    void applyCueState();
    void phonesLevelChanged();
    void meterTick();
    void observeMonitors();
    void processListChanged();
    void deviceListChanged();
    void setIphoneEndpoint(std::optional<NetworkEndpoint> endpoint);
    // Whether `bundleID` names a running application or a stored setting.
    bool namesAnApp(const std::string& bundleID) const;
    // Companion requests; nothing while there is no bridge.
    void sendAppList();
    void scheduleAppListSend();
    void startWebCompanion(uint16_t port);

    Services services_;
    Logger log_{"MixerEngine"};
    std::unique_ptr<CompanionBridge> companionBridge_;
    std::unique_ptr<ControlRouter> router_;
    std::unique_ptr<WebServer> webServer_;
    std::unique_ptr<WebCompanionBridge> webBridge_;
    PropertyWatch deviceListener_;
    ObserverList::Token processListToken_;
    ObserverList::Token deviceListToken_;
    bool processListTaskPending_ = false;
    bool deviceListTaskPending_ = false;
    bool sceneLimitReported_ = false;
    std::vector<AudioDevice> observedDevices_;
    LifetimeGuard guard_;
};

} // namespace orevant
