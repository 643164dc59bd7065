#include "platform/linux/linux_updater.h"

#include "platform/defaults_store.h"
#include "platform/linux/update_feed.h"
#include "platform/logger.h"
#include "platform/main_queue.h"
#include "platform/thread_task_queue.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orevant {

namespace {

std::optional<std::array<uint8_t, 32>> fileSHA256(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto n = in.gcount();
        if (n > 0)
            crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                      static_cast<unsigned long long>(n));
    }
    if (in.bad()) return std::nullopt;
    std::array<uint8_t, 32> digest{};
    crypto_hash_sha256_final(&state, digest.data());
    return digest;
}

// Runs argv and waits for it, at most `timeout` seconds; its exit status, or an error text.
std::string runCommand(const std::vector<std::string>& arguments, double timeout, int& exitStatus) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) return std::string("cannot run ") + arguments[0] + ": " + std::strerror(error);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    bool timedOut = false;
    if (pidfd >= 0) {
        pollfd fd{pidfd, POLLIN, 0};
        int r;
        do {
            r = ::poll(&fd, 1, static_cast<int>(std::min(timeout, 86400.0) * 1000.0));
        } while (r < 0 && errno == EINTR);
        timedOut = r == 0;
        ::close(pidfd);
    }
    if (timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (timedOut) return arguments[0] + " did not finish in time";
    exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return {};
}

} // namespace

LinuxUpdater::LinuxUpdater(DefaultsStore& defaults, MainQueue& mainQueue, Settings settings)
    : defaults_(defaults),
      mainQueue_(mainQueue),
      settings_(std::move(settings)),
      fetcher_(settings_.limits, &cancelled_) {
    if (sodium_init() < 0) settings_.releaseKey.reset(); // cannot verify anything: no updates
}

LinuxUpdater::~LinuxUpdater() {
    guard_.end();
    cancelled_ = true;
    if (worker_) worker_->stop();
}

std::filesystem::path LinuxUpdater::defaultStagingFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::filesystem::path(cache) / "orevant" / "updates";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && home[0] == '/' ? home : "/tmp") / ".cache" / "orevant" / "updates";
}

std::optional<std::array<uint8_t, 32>> LinuxUpdater::parseKey(const std::string& hex) {
    std::array<uint8_t, 32> key{};
    if (!UpdateFeed::fromHex(hex, key.data(), key.size())) return std::nullopt;
    return key;
}

std::vector<std::string> LinuxUpdater::splitCommand(const std::string& command) {
    std::vector<std::string> arguments;
    std::string current;
    for (char c : command + " ") {
        if (c != ' ') {
            current += c;
        } else if (!current.empty()) {
            arguments.push_back(std::move(current));
            current.clear();
        }
    }
    return arguments;
}

void LinuxUpdater::setDelegate(std::weak_ptr<UpdaterDelegate> delegate) { delegate_ = std::move(delegate); }

void LinuxUpdater::start() {
    started_ = true;
    if (isConfigured()) scheduleCheck(settings_.firstCheckDelay);
}

void LinuxUpdater::scheduleCheck(double delay) {
    mainQueue_.postAfter(delay, guard_.wrap([this] {
        if (automaticallyChecksForUpdates()) check(automaticallyDownloadsUpdates());
        scheduleCheck(settings_.checkInterval);
    }));
}

void LinuxUpdater::checkForUpdates() { check(true); }

void LinuxUpdater::check(bool download) {
    auto delegate = delegate_.lock();
    if (!isConfigured()) {
        if (delegate) delegate->didNotFindUpdate({});
        return;
    }
    if (busy_.exchange(true)) return; // a check is under way; it reports for both
    if (!worker_) worker_ = std::make_unique<ThreadTaskQueue>("com.brenlake.orevant.updates");
    worker_->post([this, download, delegate = delegate_, alive = guard_.watch()] {
        runCheck(download, delegate, alive);
        busy_ = false;
    });
}

void LinuxUpdater::runCheck(bool download, const std::weak_ptr<UpdaterDelegate>& weakDelegate,
                            std::weak_ptr<const char> alive) {
    const auto report = [&](auto&& call) {
        if (auto delegate = weakDelegate.lock()) call(*delegate);
    };
    const HttpFetcher::Result feed = fetcher_.fetch(settings_.feedURL, UpdateFeed::kMaxDocumentBytes);
    if (!feed.ok) {
        report([&](UpdaterDelegate& d) { d.didAbortWithError("cannot read the update feed: " + feed.error); });
        return;
    }
    std::string error;
    const auto entry = UpdateFeed::parse(feed.body, error);
    if (!entry) {
        report([&](UpdaterDelegate& d) { d.didAbortWithError("bad update feed: " + error); });
        return;
    }
    if (UpdateFeed::compareVersions(entry->version, settings_.currentVersion) <= 0) {
        report([](UpdaterDelegate& d) { d.didNotFindUpdate({}); });
        return;
    }
    report([&](UpdaterDelegate& d) { d.didFindValidUpdate(entry->version); });
    if (!download) return;
    const auto package = stage(*entry, error);
    if (!package) {
        report([&](UpdaterDelegate& d) { d.didAbortWithError(error); });
        return;
    }
    const std::string version = entry->version;
    auto installNow = [this, alive, package = *package, version, weakDelegate] {
        if (alive.expired()) return;
        worker_->post(
            [this, package, version, weakDelegate, alive] { install(package, version, weakDelegate, alive); });
    };
    report([&](UpdaterDelegate& d) { d.willInstallUpdateOnQuit(version, installNow); });
}

std::optional<std::filesystem::path> LinuxUpdater::stage(const UpdateFeedEntry& entry, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(settings_.stagingFolder, ec);
    const std::filesystem::path package = settings_.stagingFolder / ("orevant_" + entry.version + ".deb");
    const std::filesystem::path partial = package.string() + ".part";
    std::filesystem::remove(partial, ec);
    const HttpFetcher::Result download = fetcher_.download(entry.url, partial, entry.size);
    if (!download.ok) {
        std::filesystem::remove(partial, ec);
        error = "cannot download the update: " + download.error;
        return std::nullopt;
    }
    const auto digest = fileSHA256(partial);
    const std::string message = UpdateFeed::signedMessage(entry.version, entry.sha256);
    const bool signedByUs =
        digest && *digest == entry.sha256 &&
        crypto_sign_verify_detached(entry.signature.data(), reinterpret_cast<const unsigned char*>(message.data()),
                                    message.size(), settings_.releaseKey->data()) == 0;
    if (!signedByUs) {
        std::filesystem::remove(partial, ec);
        error = "update package refused: its signature does not match";
        return std::nullopt;
    }
    std::filesystem::rename(partial, package, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        error = "cannot stage the update in " + settings_.stagingFolder.string();
        return std::nullopt;
    }
    // Older staged packages are of no more use.
    for (const auto& file : std::filesystem::directory_iterator(settings_.stagingFolder, ec)) {
        if (file.path() != package && file.path().filename().string().rfind("orevant_", 0) == 0) {
            std::filesystem::remove(file.path(), ec);
        }
    }
    return package;
}

void LinuxUpdater::install(const std::filesystem::path& package, const std::string& version,
                           const std::weak_ptr<UpdaterDelegate>& weakDelegate, const std::weak_ptr<const char>& alive) {
    std::vector<std::string> command = settings_.installCommand;
    for (std::string& argument : command) {
        for (size_t at = argument.find("{}"); at != std::string::npos; at = argument.find("{}", at + 1)) {
            argument.replace(at, 2, package.string());
        }
    }
    int status = -1;
    std::string error = command.empty() ? "no install command" : runCommand(command, settings_.installTimeout, status);
    if (error.empty() && status != 0) error = command[0] + " exited with status " + std::to_string(status);
    if (!error.empty()) {
        if (auto delegate = weakDelegate.lock())
            delegate->didAbortWithError("cannot install " + version + ": " + error);
        return;
    }
    Logger("updates").notice(strprintf("update %s installed; relaunching", version.c_str()));
    mainQueue_.post([this, alive] {
        if (!alive.expired() && settings_.relaunch) settings_.relaunch();
    });
}

bool LinuxUpdater::automaticallyChecksForUpdates() const {
    return defaults_.boolean(kAutomaticChecksKey).value_or(false);
}

void LinuxUpdater::setAutomaticallyChecksForUpdates(bool on) { defaults_.set(kAutomaticChecksKey, on); }

bool LinuxUpdater::automaticallyDownloadsUpdates() const {
    return defaults_.boolean(kAutomaticDownloadsKey).value_or(false);
}

void LinuxUpdater::setAutomaticallyDownloadsUpdates(bool on) { defaults_.set(kAutomaticDownloadsKey, on); }

} // namespace orevant
