#include "audio/device_volume_controller.h"
#include "audio/phones_bus_volume_controller.h"
#include "audio/system_volume_controller.h"
#include "audio/volume_write_queue.h"

#include "platform/defaults_store.h"
#include "platform/manual_main_queue.h"
#include "platform/sim/sim_audio_server.h"
#include "platform/sim/sim_audio_system.h"
#include "support/sim_specs.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

namespace orevant {
namespace {

// Holds the write queue's worker before its first write until released.
class WorkerGate {
public:
    explicit WorkerGate(VolumeWriteQueue& queue) {
        queue.setWillPerformHook([this](const VolumeWriteQueue::Write& write) {
            std::lock_guard lock(mutex_);
            performed_.push_back(write);
            if (performed_.size() == 1) {
                entered_.set_value();
                release_.get_future().wait();
            }
        });
    }
    void waitUntilHeld() { entered_.get_future().wait(); }
    void release() { release_.set_value(); }
    std::vector<VolumeWriteQueue::Write> performed() {
        std::lock_guard lock(mutex_);
        return performed_;
    }

private:
    std::mutex mutex_;
    std::vector<VolumeWriteQueue::Write> performed_;
    std::promise<void> entered_;
    std::promise<void> release_;
};

class VolumeControllersTest : public ::testing::Test {
protected:
    AudioObjectID plug(const std::string& uid, float volume = 0.5f, bool muteSettable = true,
                       bool volumeSettable = true) {
        SimDeviceSpec spec = test::deviceSpec(uid);
        spec.outputVolume = volume;
        spec.muteSettable = muteSettable;
        spec.volumeSettable = volumeSettable;
        return system.addDevice(spec);
    }
    float hardwareVolume(AudioObjectID device) {
        return server.value<float>(device, sel::virtualMainVolume, scope::output).value_or(-1.0f);
    }
    bool hardwareMuted(AudioObjectID device) {
        return server.value<uint32_t>(device, sel::mute, scope::output).value_or(0) != 0;
    }
    size_t volumeWrites(AudioObjectID device) {
        return server.clientWriteCount(device, sel::virtualMainVolume, scope::output);
    }
    // Waits for the worker (a real thread) to finish, then runs the completions it posted.
    void settle(VolumeWriteQueue& writes) {
        writes.waitUntilIdle();
        queue.runUntilIdle();
    }

    ManualMainQueue queue;
    SimAudioServer server{queue};
    SimAudioSystem system{server};
    VolumeWriteQueue writes{server, queue};
};

// Faults: a burst during a drain wrote every value (or lost the last); the echo of our own first
// write moved the control back while the newest write was still in flight.
TEST_F(VolumeControllersTest, BurstDuringADrainGivesOneFurtherWriteWithTheLastValueAndIgnoresItsEcho) {
    const AudioObjectID device = plug("usb");
    DeviceVolumeController controller(device, server, queue, writes);
    WorkerGate gate(writes);
    controller.setVolume(0.1f);
    gate.waitUntilHeld();
    for (float v : {0.2f, 0.3f, 0.4f, 0.45f}) controller.setVolume(v);
    EXPECT_TRUE(controller.isWriting());
    server.setValue<float>(device, sel::virtualMainVolume, scope::output, 0.9f); // read while ours is in flight
    queue.runUntilIdle();
    EXPECT_FLOAT_EQ(controller.volume(), 0.45f);
    gate.release();
    settle(writes);
    const auto performed = gate.performed();
    ASSERT_EQ(performed.size(), 2u);
    EXPECT_FLOAT_EQ(performed[0].volume, 0.1f);
    EXPECT_FLOAT_EQ(performed[1].volume, 0.45f);
    EXPECT_FLOAT_EQ(hardwareVolume(device), 0.45f);
    EXPECT_FALSE(controller.isWriting());
    server.setValue<float>(device, sel::virtualMainVolume, scope::output, 0.6f); // an outside change shows
    queue.runUntilIdle();
    EXPECT_FLOAT_EQ(controller.volume(), 0.6f);
}

TEST_F(VolumeControllersTest, MuteFollowsTheLevelWhereTheDeviceHasMuteAndARefusedWriteRestoresTheHardwareValue) {
    const AudioObjectID device = plug("usb");
    DeviceVolumeController controller(device, server, queue, writes);
    controller.setVolume(0.0f);
    settle(writes);
    EXPECT_TRUE(controller.isMuted());
    EXPECT_TRUE(hardwareMuted(device));
    controller.setVolume(0.3f);
    settle(writes);
    EXPECT_FALSE(controller.isMuted());
    EXPECT_FALSE(hardwareMuted(device));
    EXPECT_FLOAT_EQ(hardwareVolume(device), 0.3f);

    const AudioObjectID plain = plug("plain", 0.5f, false);
    DeviceVolumeController noMute(plain, server, queue, writes);
    EXPECT_FALSE(noMute.canMute());
    noMute.setVolume(0.0f);
    settle(writes);
    EXPECT_FALSE(noMute.isMuted());
    EXPECT_EQ(server.clientWriteCount(plain, sel::mute, scope::output), 0u);
    EXPECT_FLOAT_EQ(hardwareVolume(plain), 0.0f);

    // Out-of-range values are limited to 0...1 before anything is written.
    controller.setVolume(1.7f);
    settle(writes);
    EXPECT_FLOAT_EQ(hardwareVolume(device), 1.0f);

    // A refused write returns the control to the hardware value.
    server.injectFailure(device, sel::virtualMainVolume, status::illegalOperation, SimAudioServer::opSet);
    controller.setVolume(0.9f);
    EXPECT_FLOAT_EQ(controller.volume(), 0.9f);
    settle(writes);
    EXPECT_FALSE(controller.isWriting());
    EXPECT_FLOAT_EQ(controller.volume(), 1.0f);
    server.injectFailure(device, sel::mute, status::illegalOperation, SimAudioServer::opSet);
    controller.toggleMute();
    EXPECT_FALSE(controller.isMuted());
    server.clearAllFailures();
    controller.toggleMute();
    EXPECT_TRUE(controller.isMuted());
    EXPECT_TRUE(hardwareMuted(device));
    EXPECT_FALSE(DeviceVolumeController(plug("fixed", 0.5f, true, false), server, queue, writes).canSetVolume());
}

TEST_F(VolumeControllersTest, SystemControllerFollowsTheDefaultDeviceAndOutsideChanges) {
    const AudioObjectID speakers = plug("builtin", 0.25f);
    const AudioObjectID plain = plug("plain", 0.75f, false, false);
    system.setDefaultOutput(speakers);
    VolumeWriteQueue systemWrites(server, queue);
    SystemVolumeController controller(AudioDirection::output, server, queue, systemWrites);
    int changes = 0;
    controller.onVolumeChanged = [&] { ++changes; };
    controller.start();
    EXPECT_EQ(controller.deviceName(), "builtin device");
    EXPECT_FLOAT_EQ(controller.volume(), 0.25f);
    EXPECT_EQ(changes, 1);

    // Volume keys change the level outside the agent.
    server.setValue<float>(speakers, sel::virtualMainVolume, scope::output, 0.4f);
    queue.runUntilIdle();
    EXPECT_FLOAT_EQ(controller.volume(), 0.4f);
    EXPECT_EQ(changes, 2);

    system.setDefaultOutput(plain);
    queue.runUntilIdle();
    EXPECT_EQ(controller.deviceName(), "plain device");
    EXPECT_FALSE(controller.canSetVolume());
    EXPECT_FALSE(controller.canMute());
    EXPECT_FLOAT_EQ(controller.volume(), 0.75f);
    EXPECT_EQ(server.listenerCount(speakers, sel::virtualMainVolume), 0u);

    // The new device refuses level writes: the control returns to the hardware level.
    controller.setVolume(0.5f);
    EXPECT_FLOAT_EQ(controller.volume(), 0.5f);
    settle(systemWrites);
    EXPECT_FLOAT_EQ(controller.volume(), 0.75f);
    EXPECT_FLOAT_EQ(hardwareVolume(plain), 0.75f);
    EXPECT_FLOAT_EQ(hardwareVolume(speakers), 0.4f); // the write went to the new default only
    EXPECT_FALSE(controller.isWriting());
}

TEST_F(VolumeControllersTest, SystemControllerWithoutDefaultKeepsItsInitialValues) {
    VolumeWriteQueue systemWrites(server, queue);
    SystemVolumeController controller(AudioDirection::input, server, queue, systemWrites);
    controller.start();
    EXPECT_EQ(controller.deviceName(), "");

    SimDeviceSpec mic = test::deviceSpec("mic", 0, 48000.0, 1, transport::builtIn, "Microphone");
    mic.inputVolume = 0.3f;
    const AudioObjectID id = system.addDevice(mic);
    system.setDefaultInput(id);
    queue.runUntilIdle();
    EXPECT_EQ(controller.deviceName(), "Microphone");
    EXPECT_FLOAT_EQ(controller.volume(), 0.3f);
    controller.toggleMute();
    EXPECT_TRUE(controller.isMuted());
    EXPECT_EQ(server.value<uint32_t>(id, sel::mute, scope::input), 1u);
}

TEST_F(VolumeControllersTest, PhonesBusGainIsTheCubeAndSurvivesARestart) {
    InMemoryDefaultsStore defaults;
    {
        PhonesBusVolumeController bus(defaults);
        EXPECT_FLOAT_EQ(bus.gain(), 1.0f);
        int changes = 0;
        bus.onChange = [&] { ++changes; };
        bus.setVolume(0.5f);
        EXPECT_FLOAT_EQ(bus.gain(), 0.125f);
        bus.toggleMute();
        EXPECT_FLOAT_EQ(bus.gain(), 0.0f);
        EXPECT_EQ(changes, 2);
    }
    PhonesBusVolumeController restarted(defaults);
    EXPECT_TRUE(restarted.isMuted());
    restarted.toggleMute();
    EXPECT_FLOAT_EQ(restarted.gain(), 0.125f);

    defaults.set("phonesBusVolume", DefaultsValue(std::string("loud")));
    EXPECT_FLOAT_EQ(PhonesBusVolumeController(defaults).volume(), 1.0f);
    defaults.set("phonesBusVolume", DefaultsValue(3.0));
    EXPECT_FLOAT_EQ(PhonesBusVolumeController(defaults).gain(), 1.0f);
}

TEST_F(VolumeControllersTest, QueueFinishesItsDrainWhenDestroyed) {
    const AudioObjectID device = plug("usb");
    {
        VolumeWriteQueue shortLived(server, queue);
        shortLived.enqueue(VolumeWriteQueue::Write{{device, scope::output}, 0.33f, true}, {});
    }
    EXPECT_FLOAT_EQ(hardwareVolume(device), 0.33f);
    EXPECT_TRUE(hardwareMuted(device));
}

TEST_F(VolumeControllersTest, WritesToDifferentDevicesOfOneQueueAreAllPerformed) {
    const AudioObjectID a = plug("a");
    const AudioObjectID b = plug("b");
    DeviceVolumeController first(a, server, queue, writes);
    DeviceVolumeController second(b, server, queue, writes);
    WorkerGate gate(writes);
    first.setVolume(0.9f);
    gate.waitUntilHeld();
    first.setVolume(0.0f); // mutes A ...
    second.setVolume(0.7f);
    first.setVolume(0.0f); // ... and this repeat carries no mute of its own
    gate.release();
    settle(writes);
    EXPECT_FLOAT_EQ(hardwareVolume(a), 0.0f);
    EXPECT_TRUE(hardwareMuted(a));
    EXPECT_FLOAT_EQ(hardwareVolume(b), 0.7f);
    EXPECT_EQ(volumeWrites(a), 2u);
    EXPECT_FALSE(first.isWriting());
    EXPECT_FALSE(second.isWriting());
}

} // namespace
} // namespace orevant
