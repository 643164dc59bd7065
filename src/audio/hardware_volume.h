#pragma once
// The hardware side of a volume control: level and mute of one device in one direction, read
// and written on the audio server. Writes go through a VolumeWriteQueue; while a write of ours
// is in flight the owner ignores the server's echo of it (isWriting), and once the newest write
// completes a failed one lets the hardware value win again. The device and system volume
// controllers each hold one and keep only their own view of the values.
//
// Threads: main queue only; write completions and listener callbacks arrive there as tasks.
#include "audio/audio_direction.h"
#include "platform/lifetime_guard.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orevant {

class AudioServer;
class HALListener;
class MainQueue;
class VolumeWriteQueue;

class HardwareVolume {
public:
    HardwareVolume(AudioServer& server, MainQueue& mainQueue, VolumeWriteQueue& writes, uint32_t scope);
    ~HardwareVolume();
    HardwareVolume(const HardwareVolume&) = delete;
    HardwareVolume& operator=(const HardwareVolume&) = delete;

    // Controls `device` from now on: reads whether level and mute are settable and listens to
    // both (the previous device's registrations end). `onChange` runs as a main-queue task after
    // the server reported a change of either.
    void attach(AudioObjectID device, std::function<void()> onChange);

    // Reads level and mute into the owner's values, unless a write of ours is in flight; a
    // value whose read fails keeps its old value. True when either changed.
    bool update(float& volume, bool& isMuted) const;
    // The mute a level write carries: muted at 0, unmuted above, only where the device has mute
    // and only when it differs from `isMuted`.
    std::optional<bool> muteFollowingLevel(float level, bool isMuted) const;
    // Queues the write (the level is limited to 0...1 on its way). Once the newest write has been
    // performed isWriting() clears, and if it failed `onFailure` runs on the main queue.
    void write(float volume, std::optional<bool> mute, std::function<void()> onFailure);
    // Writes the mute at once, on the main queue. False when the server refused it.
    bool writeMute(bool muted);

    const VolumeEndpoint& endpoint() const { return endpoint_; }
    bool canSetVolume() const { return canSetVolume_; }
    bool canMute() const { return canMute_; }
    bool isWriting() const { return isWriting_; }

private:
    AudioServer& server_;
    MainQueue& mainQueue_;
    VolumeWriteQueue& writes_;
    VolumeEndpoint endpoint_;
    bool canSetVolume_ = true;
    bool canMute_ = true;
    int writeToken_ = 0;
    bool isWriting_ = false;
    std::vector<std::unique_ptr<HALListener>> listeners_;
    LifetimeGuard guard_;
};

} // namespace orevant
