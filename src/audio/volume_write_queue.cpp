#include "audio/volume_write_queue.h"

#include "audio/volume_controlling.h"
#include "platform/audio_server.h"
#include "platform/main_queue.h"

#include <pthread.h>

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
        pending_ = write;
        if (isDraining_) return; // the running drain will pick it up; this completion is dropped
        isDraining_ = true;
        drainCompletion_ = std::move(completion);
    }
    wake_.notify_all();
}

void VolumeWriteQueue::setWillPerformHook(std::function<void(const Write&)> hook) {
    std::lock_guard lock(lock_);
    willPerform_ = std::move(hook);
}

void VolumeWriteQueue::waitUntilIdle() {
    std::unique_lock lock(lock_);
    wake_.wait(lock, [this] { return !isDraining_ && !isPosting_; });
}

void VolumeWriteQueue::run() {
    pthread_setname_np(pthread_self(), "volume-write");
    std::unique_lock lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || drainCompletion_.has_value(); });
        if (!drainCompletion_) return; // stopping with nothing scheduled
        Completion completion = std::move(*drainCompletion_);
        drainCompletion_.reset();
        bool success = true;
        while (pending_) {
            const Write write = *pending_;
            pending_.reset();
            auto hook = willPerform_;
            lock.unlock();
            if (hook) hook(write);
            success = perform(write);
            lock.lock();
        }
        isDraining_ = false;
        isPosting_ = true;
        lock.unlock();
        if (completion) {
            mainQueue_.post([completion = std::move(completion), success] { completion(success); });
        }
        lock.lock();
        isPosting_ = false;
        wake_.notify_all(); // waitUntilIdle
    }
}

bool VolumeWriteQueue::perform(const Write& write) {
    const PropertyAddress volume{sel::virtualMainVolume, write.endpoint.scope, 0};
    const float level = clampVolume(write.volume);
    if (server_.setPropertyData(write.endpoint.deviceID, volume, sizeof level, &level) != 0) return false;
    if (!write.mute) return true;
    const uint32_t mute = *write.mute ? 1u : 0u;
    return server_.setPropertyData(write.endpoint.deviceID, PropertyAddress{sel::mute, write.endpoint.scope, 0},
                                   sizeof mute, &mute) == 0;
}

} // namespace orevant
