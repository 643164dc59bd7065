// The Linux updater end to end against an HTTP server on 127.0.0.1: the feed, a package signed
// with a test key, and every way a download can be bad; installs through a fake install command
// at the update controller's quiet moment.
#include "app/app_activation_state.h"
#include "app/process_state.h"
#include "app/update_controller.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"
#include "platform/linux/linux_updater.h"
#include "platform/linux/update_feed.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "support/file_text.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sodium.h>

namespace orevant {
namespace {

constexpr double kWait = 10.0; // real seconds; reached only when something is wrong

struct KeyPair {
    std::array<uint8_t, 32> publicKey{};
    std::array<uint8_t, 64> secretKey{};
    KeyPair() {
        EXPECT_GE(sodium_init(), 0);
        crypto_sign_keypair(publicKey.data(), secretKey.data());
    }
};

// A feed document for `package`, signed with `key`.
std::string feedFor(const std::string& version, const std::string& url, const std::string& package,
                    const KeyPair& key) {
    std::array<uint8_t, 32> digest{};
    crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(package.data()), package.size());
    const std::string message = UpdateFeed::signedMessage(version, digest);
    std::array<uint8_t, 64> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(message.data()),
                         message.size(), key.secretKey.data());
    return R"({"version": ")" + version + R"(", "url": ")" + url + R"(", "size": )" + std::to_string(package.size()) +
           R"(, "sha256": ")" + UpdateFeed::hex(digest.data(), digest.size()) + R"(", "signature": ")" +
           UpdateFeed::hex(signature.data(), signature.size()) + R"("})";
}

// Records what the updater reports, on the main queue.
class RecordingDelegate final : public UpdaterDelegate {
public:
    explicit RecordingDelegate(MainQueue& queue) : queue_(queue) {}
    void didFindValidUpdate(const std::string& v) override { add("found " + v); }
    void didNotFindUpdate(const std::string&) override { add("up to date"); }
    bool willInstallUpdateOnQuit(const std::string& v, std::function<void()>) override {
        add("staged " + v);
        return true;
    }
    void didAbortWithError(const std::string&) override { add("failed"); }
    void willHandleShowingUpdate(const std::string&) override {}
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    bool shouldHandleShowingScheduledUpdate(bool) const override { return false; }
    std::vector<std::string> events;

private:
    void add(std::string event) {
        queue_.post([this, event = std::move(event)] { events.push_back(event); });
    }
    MainQueue& queue_;
};

class LinuxUpdaterTest : public ::testing::Test {
protected:
    LinuxUpdater::Settings settings() {
        LinuxUpdater::Settings s;
        s.feedURL = server.url("/feed.json");
        s.releaseKey = releaseKey.publicKey;
        s.currentVersion = "1.4.0";
        s.stagingFolder = home / "updates";
        s.installCommand = {"/bin/sh", "-c", "echo \"$0\" >> \"$1\"", "{}", (home / "installed").string()};
        s.limits = HttpLimits{2.0, 1.0, 5.0, true};
        return s;
    }
    std::vector<std::filesystem::path> staged() const {
        std::vector<std::filesystem::path> files;
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(home / "updates", ec)) files.push_back(f.path());
        return files;
    }

    KeyPair releaseKey;
    KeyPair otherKey;
    test::HttpTestServer server;
    test::TempDir home;
    ManualMainQueue queue;
    InMemoryDefaultsStore defaults;
    const std::string package = std::string(200000, 'p') + "orevant 1.5.0";
};

TEST_F(LinuxUpdaterTest, ABadDownloadIsRefusedDeletedAndNeverStaged) {
    const std::string url = server.url("/orevant_1.5.0_amd64.deb");
    std::string tampered = package;
    tampered[1000] = 'q';
    const std::string good = feedFor("1.5.0", url, package, releaseKey);
    const std::vector<std::string> refused = {"found 1.5.0", "failed"};
    struct Case {
        const char* what;
        test::HttpTestServer::Response feed;
        test::HttpTestServer::Response download;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"signed with another key", {200, feedFor("1.5.0", url, package, otherKey)}, {200, package}, refused},
        {"not the signed package", {200, good}, {200, tampered}, refused},
        {"truncated", {200, good}, {200, package.substr(0, 5000), int64_t(package.size())}, refused},
        {"longer than announced", {200, good}, {200, package + "extra"}, refused},
        {"unsigned",
         {200,
          R"({"version": "1.5.0", "url": ")" + url + R"(", "size": 10, "sha256": ")" + std::string(64, '0') + "\"}"},
         {200, package},
         {"failed"}},
        {"not newer", {200, feedFor("1.4.0", url, package, releaseKey)}, {200, package}, {"up to date"}},
        {"package server never answers", {200, good}, {200, "", -1, true}, refused},
        {"feed server never answers", {200, "", -1, true}, {200, package}, {"failed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        server.set("/feed.json", c.feed);
        server.set("/orevant_1.5.0_amd64.deb", c.download);
        LinuxUpdater updater(defaults, queue, settings());
        auto delegate = std::make_shared<RecordingDelegate>(queue);
        updater.setDelegate(delegate);
        updater.checkForUpdates();
        ASSERT_TRUE(queue.runUntil([&] { return delegate->events.size() == c.expected.size(); }, kWait));
        EXPECT_EQ(delegate->events, c.expected);
        EXPECT_TRUE(staged().empty());
    }
}

// The staged package goes to the install command when the update item is chosen; only a
// successful install relaunches, a failed one leaves the agent as it was.
TEST_F(LinuxUpdaterTest, AStagedPackageIsInstalledByTheInstallCommandAndOnlyASuccessRelaunches) {
    server.set("/feed.json", {200, feedFor("1.5.0", server.url("/pkg.deb"), package, releaseKey)});
    server.set("/pkg.deb", {200, package});
    SimAudioServer audioServer(queue);
    AppActivationState activation;
    activation.setActive(true); // frontmost: the staged update waits for the update item
    for (const bool succeeds : {true, false}) {
        SCOPED_TRACE(succeeds ? "install succeeds" : "install fails");
        setRelaunchingForUpdate(false);
        std::filesystem::remove_all(home / "updates");
        std::filesystem::remove(home / "installed");
        LinuxUpdater::Settings s = settings();
        if (!succeeds) s.installCommand = {"/bin/false", "{}"};
        int relaunches = 0;
        auto updater = std::make_shared<LinuxUpdater>(defaults, queue, s);
        updater->setRelaunch([&] { ++relaunches; });
        auto controller = UpdateController::create(queue, audioServer, defaults, activation, updater);
        controller->checkForUpdates();
        ASSERT_TRUE(queue.runUntil([&] { return controller->stagedVersion().has_value(); }, kWait));
        ASSERT_EQ(staged(), std::vector<std::filesystem::path>{home / "updates" / "orevant_1.5.0.deb"});
        EXPECT_EQ(test::fileText(staged()[0]), package);
        EXPECT_FALSE(std::filesystem::exists(home / "installed")) << "nothing installs before the quiet moment";

        controller->checkForUpdates(); // the update item: install now
        if (succeeds) {
            ASSERT_TRUE(queue.runUntil([&] { return relaunches == 1; }, kWait));
            EXPECT_EQ(test::fileText(home / "installed"), staged()[0].string() + "\n");
            EXPECT_TRUE(isRelaunchingForUpdate());
        } else {
            ASSERT_TRUE(queue.runUntil([&] { return !controller->stagedVersion().has_value(); }, kWait));
            EXPECT_FALSE(isRelaunchingForUpdate()) << "so quitting shuts the engine down as usual";
            EXPECT_EQ(relaunches, 0);
        }
    }
    setRelaunchingForUpdate(false);
}

TEST(UpdateFeedTest, VersionsCompareAsDottedIntegers) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    for (const Case& c : std::vector<Case>{{"1.10.0", "1.9", 1},
                                           {"1.4", "1.4.0", 0},
                                           {"0.9.9", "1.0", -1},
                                           {"2", "10", -1},
                                           {"1.4.0.1", "1.4.0", 1}}) {
        EXPECT_EQ(UpdateFeed::compareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
    }
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2a", "v1.2", "1.2.3.4.5.6.7.8.9", "1234567890"}) {
        EXPECT_FALSE(UpdateFeed::isVersion(bad)) << bad;
    }
}

} // namespace
} // namespace orevant
