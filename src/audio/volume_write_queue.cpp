#include "audio/volume_write_queue.h"

#include "audio/volume_controlling.h"
#include "platform/audio_server.h"
#include "platform/main_queue.h"

#include <pthread.h>

#include <algorithm>

namespace orevant {

VolumeWriteQueue::VolumeWriteQueue(AudioServer& server, MainQueue& mainQueue)
    : server_(server), mainQueue_(mainQueue), worker_([this] { run(); }) {}

VolumeWriteQueue::~VolumeWriteQueue() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void VolumeWriteQueue::enqueue(const Write& write, Completion completion) {
    {
        std::lock_guard lock(lock_);
        auto it = std::find_if(pending_.begin(), pending_.end(),
                               [&](const Pending& p) { return p.write.endpoint == write.endpoint; });
        if (it == pending_.end()) {
            pending_.push_back(Pending{write, {}});
            it = pending_.end() - 1;
        } else {
            // The older level is never written; a mute change it carried still is, unless the
            // newer write sets mute itself.
            const std::optional<bool> olderMute = it->write.mute;
            it->write = write;
            if (!it->write.mute) it->write.mute = olderMute;
        }
        if (completion) it->completions.push_back(std::move(completion));
        if (isDraining_) return; // the running drain picks it up
        isDraining_ = true;
    }
    wake_.notify_all();
}

void VolumeWriteQueue::setWillPerformHook(std::function<void(const Write&)> hook) {
    std::lock_guard lock(lock_);
    willPerform_ = std::move(hook);
}

void VolumeWriteQueue::waitUntilIdle() {
    std::unique_lock lock(lock_);
    wake_.wait(lock, [this] { return !isDraining_; });
}

void VolumeWriteQueue::run() {
    pthread_setname_np(pthread_self(), "volume-write");
    std::unique_lock lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || isDraining_; });
        if (!isDraining_) return; // stopping with nothing scheduled
        while (!pending_.empty()) {
            Pending next = std::move(pending_.front());
            pending_.erase(pending_.begin());
            auto hook = willPerform_;
            lock.unlock();
            if (hook) hook(next.write);
            const bool success = perform(next.write);
            for (Completion& completion : next.completions)
                mainQueue_.post([completion = std::move(completion), success] { completion(success); });
            lock.lock();
        }
        isDraining_ = false;
        wake_.notify_all(); // waitUntilIdle
    }
}

bool VolumeWriteQueue::perform(const Write& write) {
    const PropertyAddress volume{sel::virtualMainVolume, write.endpoint.scope, 0};
    const float level = clampUnit(write.volume);
    if (server_.setPropertyData(write.endpoint.deviceID, volume, sizeof level, &level) != 0) return false;
    if (!write.mute) return true;
    const uint32_t mute = *write.mute ? 1u : 0u;
    return server_.setPropertyData(write.endpoint.deviceID, PropertyAddress{sel::mute, write.endpoint.scope, 0},
                                   sizeof mute, &mute) == 0;
}

} // namespace orevant
