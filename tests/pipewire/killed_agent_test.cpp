// An agent killed with SIGKILL while it taps an application: the application is back on its
// device within 100 ms, and the routing target it leaves behind is cleared at the next start.
#include "persistence/app_volume.h"
#include "persistence/defaults_keys.h"
#include "persistence/json_defaults.h"
#include "platform/file_defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/pipewire/pipewire_audio_server.h"
#include "support/pipewire_stack.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <memory>

namespace orevant::test {
namespace {

constexpr float kToneRMS = 0.353553f;

std::string defaultMetadata() {
    std::string out;
    runCommand("pw-metadata -n default 2>/dev/null", &out);
    return out;
}

// The longest run of 1 ms windows after `from` that are quieter than `floor`, in milliseconds.
int longestSilenceMs(const std::vector<float>& samples, size_t from, float floor) {
    int longest = 0, run = 0;
    for (size_t start = from; start + 48 <= samples.size(); start += 48) {
        double sum = 0;
        for (size_t i = start; i < start + 48; ++i) sum += static_cast<double>(samples[i]) * samples[i];
        const bool quiet = std::sqrt(sum / 48) < floor;
        run = quiet ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST(KilledAgentTest, TheApplicationReturnsToItsDeviceAndTheStaleTargetIsClearedAtTheNextStart) {
    TempDir home;
    {
        FileDefaultsStore store((home / "config/orevant/defaults.json").string());
        AppVolume half;
        half.volume = 0.5f;
        JSONDefaults::save(std::map<std::string, AppVolume>{{"org.example.Killed", half}}, defaults_keys::appVolumes,
                           store);
    }
    ManualMainQueue queue;
    Capture stereo("ci_stereo", 2);
    ToneFile tone;
    Player player(Player::Kind::native, "org.example.Killed", tone.path());
    ASSERT_TRUE(pumpUntil(
        queue, [&] { return std::fabs(stereo.rms(0, 0.2) - kToneRMS) < 0.01f; }, 5.0));

    std::unique_ptr<Player> agent;
    {
        const ScopedEnv homeEnv("HOME", home.path().c_str());
        const ScopedEnv configEnv("XDG_CONFIG_HOME", (home / "config").c_str());
        agent = std::make_unique<Player>(
            std::vector<std::string>{OREVANT_AGENT_BINARY, "--headless", "--quiet", "--backend", "pipewire"});
    }
    ASSERT_GT(agent->pid(), 0);
    const bool tapped = pumpUntil(
        queue, [&] { return std::fabs(stereo.rms(0, 0.2) - kToneRMS * 0.125f) < 0.001f; }, 10.0);
    const size_t mark = stereo.frames();
    ::kill(agent->pid(), SIGKILL);
    agent.reset(); // reaps it
    ASSERT_TRUE(tapped) << "the agent never tapped the application";

    EXPECT_TRUE(pumpUntil(
        queue, [&] { return std::fabs(stereo.rms(0, 0.2) - kToneRMS) < 0.01f; }, 5.0));
    EXPECT_LE(longestSilenceMs(stereo.samples(0), mark, 0.01f), 100);
    ASSERT_NE(defaultMetadata().find("orevant.tap."), std::string::npos) << "no target was left behind";

    // The next start clears what the killed agent left, and the application stays where it is.
    PipeWireAudioServer next(queue);
    ASSERT_TRUE(next.isConnected());
    EXPECT_TRUE(pumpUntil(
        queue, [&] { return defaultMetadata().find("orevant.tap.") == std::string::npos; }, 5.0))
        << defaultMetadata();
    pumpFor(queue, 0.3);
    EXPECT_NEAR(stereo.rms(0, 0.2), kToneRMS, 0.01f);
}

} // namespace
} // namespace orevant::test
