#pragma once
// The agent's updater on Linux. It reads the update feed over HTTPS, and when the feed names a
// newer version it downloads the package into the staging folder, checks its size, SHA-256 and
// Ed25519 signature against the release key built into the program (anything else is refused
// and deleted), and offers an install-now handler. That handler runs the system's package tool
// (the install command, "{}" standing for the package's path) and, when it succeeds, relaunches
// the agent. Without a feed address or a release key every check reports that no update is
// available. Its two switches are kept in the defaults store under the keys the update
// framework uses, so the user's choice survives a restart.
//
// Threads: the Updater methods on the main queue; the network, the checks and the install
// command run on the updater's own worker thread, from which the delegate is called (the
// delegate hops to its queue); the relaunch runs on the main queue.
#include "platform/lifetime_guard.h"
#include "platform/linux/http_fetcher.h"
#include "platform/updater.h"

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orevant {

class DefaultsStore;
class MainQueue;
class ThreadTaskQueue;
struct UpdateFeedEntry;

class LinuxUpdater final : public Updater {
public:
    static constexpr const char* kAutomaticChecksKey = "SUEnableAutomaticChecks";
    static constexpr const char* kAutomaticDownloadsKey = "SUAutomaticallyUpdate";

    struct Settings {
        std::string feedURL;                               // empty: no updates
        std::optional<std::array<uint8_t, 32>> releaseKey; // Ed25519 public key; none: no updates
        std::string currentVersion = OREVANT_VERSION;
        std::filesystem::path stagingFolder = defaultStagingFolder();
        // argv of the package tool; "{}" in an argument stands for the package's path.
        std::vector<std::string> installCommand = {"pkexec", "apt-get", "install", "--yes", "{}"};
        double installTimeout = 1800.0; // seconds; a password prompt may wait long
        double firstCheckDelay = 60.0;  // seconds after start()
        double checkInterval = 86400.0;
        HttpLimits limits;
        // Runs on the main queue after a successful install: ends and restarts the agent.
        std::function<void()> relaunch;
    };

    LinuxUpdater(DefaultsStore& defaults, MainQueue& mainQueue, Settings settings);
    ~LinuxUpdater() override;

    // $XDG_CACHE_HOME/orevant/updates (default ~/.cache/orevant/updates).
    static std::filesystem::path defaultStagingFolder();
    // The release key of this build (hex in the OREVANT_UPDATE_KEY build setting); none when unset.
    static std::optional<std::array<uint8_t, 32>> parseKey(const std::string& hex);
    // The install command split into arguments at spaces (the build setting's form).
    static std::vector<std::string> splitCommand(const std::string& command);

    void setDelegate(std::weak_ptr<UpdaterDelegate> delegate) override;
    void start() override;
    void checkForUpdates() override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool on) override;
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool on) override;

    // Replaces Settings::relaunch (the agent knows how to end only once it is built).
    void setRelaunch(std::function<void()> relaunch) { settings_.relaunch = std::move(relaunch); }

    bool isStarted() const { return started_; }
    bool isConfigured() const { return !settings_.feedURL.empty() && settings_.releaseKey.has_value(); }

private:
    void check(bool download);
    void scheduleCheck(double delay);
    // Worker thread. `alive` is the guard's watch, taken on the main queue.
    void runCheck(bool download, const std::weak_ptr<UpdaterDelegate>& delegate, std::weak_ptr<const char> alive);
    std::optional<std::filesystem::path> stage(const UpdateFeedEntry& entry, std::string& error);
    void install(const std::filesystem::path& package, const std::string& version,
                 const std::weak_ptr<UpdaterDelegate>& delegate, const std::weak_ptr<const char>& alive);

    DefaultsStore& defaults_;
    MainQueue& mainQueue_;
    Settings settings_;
    std::atomic<bool> cancelled_{false};
    HttpFetcher fetcher_;
    std::weak_ptr<UpdaterDelegate> delegate_;
    bool started_ = false;
    std::atomic<bool> busy_{false};
    LifetimeGuard guard_;
    std::unique_ptr<ThreadTaskQueue> worker_;
};

} // namespace orevant
