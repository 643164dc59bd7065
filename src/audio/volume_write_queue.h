#pragma once
// Performs device volume writes on its own serial worker thread and keeps only the newest
// write: a dragged slider becomes a few hardware writes, never a backlog.
//
// Threads: enqueue from any thread (the main queue here); writes run on the worker thread;
// completions are posted to the main queue.
#include "audio/audio_direction.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace orevant {

class AudioServer;
class MainQueue;

class VolumeWriteQueue {
public:
    static constexpr const char* kLabel = "com.brenlake.orevant.volume-write";

    struct Write {
        VolumeEndpoint endpoint;
        float volume = 1.0f;
        std::optional<bool> mute; // absent: leave mute alone
        bool operator==(const Write&) const = default;
    };
    // Runs on the main queue with the success of the last write of the drain.
    using Completion = std::function<void(bool success)>;

    VolumeWriteQueue(AudioServer& server, MainQueue& mainQueue);
    // Finishes the drain under way (if any), then stops the worker.
    ~VolumeWriteQueue();
    VolumeWriteQueue(const VolumeWriteQueue&) = delete;
    VolumeWriteQueue& operator=(const VolumeWriteQueue&) = delete;

    // Any thread. Replaces the pending write; starts a drain carrying `completion` unless one
    // is already scheduled or running, in which case `completion` is dropped.
    void enqueue(const Write& write, Completion completion);

    // Test aids. The hook runs on the worker just before each write is performed; it may block
    // to hold the drain. waitUntilIdle blocks the caller until no drain is scheduled or running and the last
    // completion has been posted.
    void setWillPerformHook(std::function<void(const Write&)> hook);
    void waitUntilIdle();

private:
    void run();
    bool perform(const Write& write);

    AudioServer& server_;
    MainQueue& mainQueue_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::optional<Write> pending_;
    bool isDraining_ = false;
    std::optional<Completion> drainCompletion_; // set when a drain is scheduled, taken by the worker
    bool isPosting_ = false; // a finished drain is handing its completion to the main queue
    bool stopping_ = false;
    std::function<void(const Write&)> willPerform_;
    std::thread worker_;
};

} // namespace orevant
