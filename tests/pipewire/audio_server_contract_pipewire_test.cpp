// The seam's contract, kept by the PipeWire server against the private stack.
#include "../platform/audio_server_contract.h"

#include "platform/manual_main_queue.h"
#include "platform/pipewire/pipewire_audio_server.h"
#include "support/pipewire_stack.h"

#include <memory>

namespace orevant::test {
namespace {

struct PipeWireContractWorld {
    PipeWireContractWorld() : pw(std::make_unique<PipeWireAudioServer>(queue)) {}
    ~PipeWireContractWorld() {
        players.clear();
        for (const auto& [uid, module] : extras) runCommand("pactl unload-module " + module);
    }

    AudioServer& server() { return *pw; }

    int32_t startApp(const std::string& bundleID) {
        players.push_back(std::make_unique<Player>(Player::Kind::native, bundleID, tone.path()));
        return players.back()->pid();
    }

    std::string addDevice() {
        const std::string uid = "contract_extra" + std::to_string(extras.size());
        std::string module;
        runCommand("pactl load-module module-null-sink sink_name=" + uid, &module);
        while (!module.empty() && module.back() == '\n') module.pop_back();
        extras[uid] = module;
        return uid;
    }
    void removeDevice(const std::string& uid) {
        runCommand("pactl unload-module " + extras[uid]);
        extras.erase(uid);
    }

    float level(const std::string& uid, int channel) { return (uid == stereoUID ? stereo : quad).rms(channel, 0.1); }
    bool waitFor(const std::function<bool()>& done, double seconds) { return pumpUntil(queue, done, seconds); }

    std::string stereoUID = "ci_stereo";
    std::string quadUID = "ci_quad";
    ManualMainQueue queue;
    std::unique_ptr<PipeWireAudioServer> pw;
    Capture stereo{"ci_stereo", 2};
    Capture quad{"ci_quad", 4};
    ToneFile tone;
    std::vector<std::unique_ptr<Player>> players;
    std::map<std::string, std::string> extras; // uid -> pipewire-pulse module
};

INSTANTIATE_TYPED_TEST_SUITE_P(PipeWire, AudioServerContract, PipeWireContractWorld);

} // namespace
} // namespace orevant::test
