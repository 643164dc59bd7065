// The seam's contract, kept by the simulated server.
#include "audio_server_contract.h"

#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_engine.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"

namespace orevant::test {
namespace {

struct SimContractWorld {
    SimContractWorld() {
        system.setDefaultOutput(system.addDevice(spec(stereoUID, 2)));
        system.addDevice(spec(quadUID, 4));
    }

    static SimDeviceSpec spec(const std::string& uid, uint32_t channels) {
        return test::deviceSpec(uid, channels, 48000.0, 0, transport::builtIn, uid);
    }

    AudioServer& server() { return sim; }

    int32_t startApp(const std::string& bundleID) {
        SimProcessSpec p = test::processSpec(nextPID++, true, test::sourceSpec(SimAudioSource::Kind::sine));
        p.bundleID = bundleID;
        system.addProcess(p);
        return p.pid;
    }

    std::string addDevice() {
        const std::string uid = "extra" + std::to_string(++extras);
        system.addDevice(spec(uid, 2));
        return uid;
    }
    void removeDevice(const std::string& uid) { system.removeDevice(system.deviceWithUID(uid)); }

    float level(const std::string& uid, uint32_t channel) {
        return sim.audio().outputRMS(system.deviceWithUID(uid), channel, 4800);
    }

    // Audio cycles and the virtual clock move together.
    bool waitFor(const std::function<bool()>& done, double seconds) {
        const double cycle = SimAudioEngine::kCycleFrames / 48000.0;
        for (double t = 0; t <= seconds; t += cycle) {
            queue.runUntilIdle();
            if (done()) return true;
            sim.audio().runCycles(1);
            queue.advance(cycle);
        }
        return done();
    }

    std::string stereoUID = "stereo";
    std::string quadUID = "quad";
    ManualMainQueue queue;
    SimAudioServer sim{queue};
    SimAudioSystem system{sim};
    int32_t nextPID = 500;
    int extras = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, AudioServerContract, SimContractWorld);

} // namespace
} // namespace orevant::test
